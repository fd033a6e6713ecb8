#include "app/Ledger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Exception.h"
#include "platform/Streams.h"

namespace tarnwick {

TIdSet::TIdSet(const TStringList& ids) {
    keys_.reserve(static_cast<size_t>(ids.Count()));
    for (const std::string& id : ids) Add(id);
}

void TIdSet::Add(std::string_view id) { keys_.insert(UpperCase(id)); }

bool TIdSet::Contains(std::string_view id) const { return keys_.count(UpperCase(id)) != 0; }

void StripNumbers(TStringList& list) {
    for (int i = 0; i < list.Count(); ++i) {
        std::string& entry = list[i];
        size_t blank = entry.find(' ');
        if (blank != std::string::npos) entry.erase(0, blank + 1);
    }
}

std::string LedgerFileName(const std::string& forwardAddress) { return forwardAddress + ".txt"; }

void LoadLedger(const std::string& forwardAddress, TStringList& ledger) {
    std::string path = LedgerFileName(forwardAddress);
    if (FileExists(path)) ledger.LoadFromFile(path);
}

void PruneLedger(TStringList& ledger, const TStringList& allIds) {
    TIdSet onServer(allIds);
    TStringList kept;
    for (const std::string& id : ledger)
        if (onServer.Contains(id)) kept.Add(id);
    ledger.Assign(kept);
}

void SelectNewIds(const TStringList& allIds, const TStringList& ledger, TStringList& newIds) {
    TIdSet known(ledger);
    for (const std::string& id : allIds)
        if (!known.Contains(id)) newIds.Add(id);
}

void MapIdsToNumbers(const TStringList& listing, const TStringList& newIds, TStringList& newNumbers) {
    // First listing line for each id. Matching whole ids (not substrings) keeps a new id "abc"
    // from being taken for the line of "abc12".
    std::unordered_map<std::string, std::string> numberOf;
    numberOf.reserve(static_cast<size_t>(listing.Count()));
    for (const std::string& line : listing) {
        size_t blank = line.find(' ');
        std::string id = blank == std::string::npos ? line : line.substr(blank + 1);
        std::string number = blank == std::string::npos ? std::string() : line.substr(0, blank);
        numberOf.emplace(UpperCase(id), std::move(number));
    }
    for (const std::string& id : newIds) {
        auto found = numberOf.find(UpperCase(id));
        newNumbers.Add(found == numberOf.end() ? std::string() : found->second);
    }
}

// --- TLedgerWriter

namespace {

// The message names the full path, as the user must find the folder that refused it.
std::string FullPath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return path;
    return std::string(cwd) + "/" + path;
}

[[noreturn]] void RaiseCreate(const std::string& path) {
    const char* reason = std::strerror(errno);
    throw EFCreateError(Format("ファイル %s を作成できません。%s", FullPath(path).c_str(), reason));
}

void WriteAll(int fd, const std::string& bytes, const std::string& path) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw EWriteError(Format("ファイル %s に書き込めません。%s", path.c_str(), std::strerror(errno)));
        done += static_cast<size_t>(n);
    }
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

}  // namespace

TLedgerWriter::TLedgerWriter(std::string forwardAddress) : path_(LedgerFileName(forwardAddress)) {}

void TLedgerWriter::SaveLedger(const TStringList& ledger) {
    int count = ledger.Count();
    try {
        if (savedCount_ >= 0 && count == savedCount_ + 1 &&
            (savedCount_ == 0 || ledger[savedCount_ - 1] == lastSaved_)) {
            Append(ledger[count - 1]);
        } else {
            Rewrite(ledger);
        }
    } catch (...) {
        savedCount_ = -1;  // whatever reached the disk, the next save writes the whole list again
        throw;
    }
    savedCount_ = count;
    lastSaved_ = count > 0 ? ledger[count - 1] : std::string();
}

void TLedgerWriter::Rewrite(const TStringList& ledger) {
    std::string temp = path_ + ".tmp-XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) RaiseCreate(path_);
    try {
        struct stat st;
        // Keep the mode of the ledger being replaced; a new one gets the usual 0644 less umask.
        if (::stat(path_.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
        else {
            mode_t mask = ::umask(0);
            ::umask(mask);
            ::fchmod(fd, 0666 & ~mask);
        }
        WriteAll(fd, ledger.Text(), temp);
        if (::fsync(fd) != 0) throw EWriteError(Format("ファイル %s に書き込めません。%s", temp.c_str(), std::strerror(errno)));
    } catch (...) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw;
    }
    ::close(fd);
    if (::rename(temp.c_str(), path_.c_str()) != 0) {
        int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        RaiseCreate(path_);
    }
    // The rename itself must survive a power loss too.
    int dir = ::open(FolderOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

void TLedgerWriter::Append(const std::string& id) {
    int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) RaiseCreate(path_);
    try {
        // One write, so a crash cannot leave half an id behind a whole line.
        WriteAll(fd, id + "\r\n", path_);
        if (::fdatasync(fd) != 0) throw EWriteError(Format("ファイル %s に書き込めません。%s", path_.c_str(), std::strerror(errno)));
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
}

}  // namespace tarnwick
