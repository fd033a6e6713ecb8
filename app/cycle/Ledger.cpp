#include "app/cycle/Ledger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/Exception.h"
#include "platform/FileReplace.h"
#include "platform/Streams.h"

namespace tarnwick {

TUidSet::TUidSet(const TStringList& ids) {
    keys_.reserve(static_cast<size_t>(ids.Count()));
    for (const std::string& id : ids) Add(id);
}

void TUidSet::Add(std::string_view id) { keys_.emplace(id); }

bool TUidSet::Contains(std::string_view id) const { return keys_.count(std::string(id)) != 0; }

void StripNumbers(TStringList& list) {
    for (int i = 0; i < list.Count(); ++i) {
        std::string& entry = list[i];
        size_t blank = entry.find(' ');
        if (blank != std::string::npos) entry.erase(0, blank + 1);
    }
}

std::string LedgerFileName(const std::string& forwardAddress) { return forwardAddress + ".txt"; }

namespace {

// True when the file's last byte ends a line (or the file is empty or unreadable).
bool EndsWithLineEnd(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;
    struct stat st {};
    char last = '\n';
    if (::fstat(fd, &st) == 0 && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) != 1) last = '\n';
    ::close(fd);
    return last == '\n' || last == '\r';
}

}  // namespace

void LoadLedger(const std::string& forwardAddress, TStringList& ledger) {
    std::string path = LedgerFileName(forwardAddress);
    if (!FileExists(path)) return;
    ledger.LoadFromFile(path);
    // Counting a cut-off id as forwarded could hide another message whose id starts the same.
    if (ledger.Count() > 0 && !EndsWithLineEnd(path)) ledger.Delete(ledger.Count() - 1);
}

std::vector<TListedMessage> ParseListing(const TStringList& listing) {
    std::vector<TListedMessage> listed;
    listed.reserve(static_cast<size_t>(listing.Count()));
    for (const std::string& line : listing) {
        TListedMessage entry;
        const size_t blank = line.find(' ');
        if (blank == std::string::npos) {
            entry.Id = line;
        } else {
            entry.NumberText = line.substr(0, blank);
            entry.Id = line.substr(blank + 1);
            try {
                entry.Number = StrToInt(entry.NumberText);
            } catch (const EConvertError&) {
                entry.Number = 0;
            }
        }
        listed.push_back(std::move(entry));
    }
    return listed;
}

bool IsRecordableId(std::string_view id) {
    return !id.empty() && std::none_of(id.begin(), id.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 0x20 || b == 0x7F;
    });
}

void ListedIds(const std::vector<TListedMessage>& listed, TStringList& ids) {
    for (const TListedMessage& entry : listed) ids.Add(entry.Id);
}

TCyclePlan PlanCycle(const std::vector<TListedMessage>& listed, TStringList& ledger) {
    // Whole ids compared byte for byte: "abc" is neither "abc12" nor "ABC".
    std::unordered_map<std::string, int> recorded;  // id -> listing lines the ledger accounts for
    {
        TUidSet onServer;
        for (const TListedMessage& entry : listed) onServer.Add(entry.Id);
        TStringList kept;
        for (const std::string& id : ledger)
            if (onServer.Contains(id)) kept.Add(id);
        ledger.Assign(kept);
    }
    recorded.reserve(static_cast<size_t>(ledger.Count()));
    for (const std::string& id : ledger) ++recorded[id];
    TCyclePlan plan;
    for (const TListedMessage& entry : listed) {
        auto found = recorded.find(entry.Id);
        if (found != recorded.end() && found->second > 0) --found->second;
        else plan.New.push_back(entry);
    }
    return plan;
}

// --- TLedgerWriter

namespace {

// The message names the full path, as the user must find the folder that refused it.
[[noreturn]] void RaiseCreate(const std::string& path, int error) {
    throw EFCreateError(Format("ファイル %s を作成できません。%s", FullFilePath(path).c_str(), std::strerror(error)));
}

[[noreturn]] void RaiseWrite(const std::string& path, int error) {
    throw EWriteError(Format("ファイル %s に書き込めません。%s", FullFilePath(path).c_str(), std::strerror(error)));
}

void WriteAll(int fd, const std::string& bytes, const std::string& path) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) RaiseWrite(path, errno);
        if (n == 0) RaiseWrite(path, ENOSPC);
        done += static_cast<size_t>(n);
    }
}

// The mode of the ledger being replaced; a new one gets the usual 0644 less umask.
mode_t LedgerMode(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return st.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

TLedgerWriter::TLedgerWriter(std::string forwardAddress) : path_(LedgerFileName(forwardAddress)) {}

TLedgerWriter::~TLedgerWriter() {
    if (appendFd_ >= 0) ::close(appendFd_);
}

void TLedgerWriter::DropReservation() { reserved_.reset(); }

void TLedgerWriter::Reserve(const TStringList& ledger, const TStringList& newIds) {
    DropReservation();
    // The later saves append to the file the first one renamed into place, so an existing
    // ledger (or whatever holds its name) must take writes too.
    int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
    else if (errno != ENOENT) RaiseCreate(path_, errno);

    auto file = std::make_unique<TFileReplacement>(path_, LedgerMode(path_));
    off_t room = static_cast<off_t>(ledger.Text().size());
    for (const std::string& id : newIds) room += static_cast<off_t>(id.size() + 2);
    file->Reserve(room);
    reserved_ = std::move(file);
}

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
        savedCount_ = -1;  // the file is as it was; the next save writes the whole list again
        throw;
    }
    savedCount_ = count;
    lastSaved_ = count > 0 ? ledger[count - 1] : std::string();
}

void TLedgerWriter::Rewrite(const TStringList& ledger) {
    std::unique_ptr<TFileReplacement> file = std::move(reserved_);
    if (!file) file = std::make_unique<TFileReplacement>(path_, LedgerMode(path_));
    file->Write(ledger.Text());
    file->Commit();
    // The file just written is the ledger now: later saves of this cycle append through it.
    if (appendFd_ >= 0) ::close(appendFd_);
    appendFd_ = file->ReleaseDescriptor();
    appendSize_ = static_cast<off_t>(ledger.Text().size());
}

void TLedgerWriter::Append(const std::string& id) {
    // The file stays open from one save to the next: each id then costs a write and a sync.
    if (appendFd_ < 0) {
        int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd < 0) RaiseCreate(path_, errno);
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            int error = errno;
            ::close(fd);
            RaiseWrite(path_, error);
        }
        appendFd_ = fd;
        appendSize_ = st.st_size;
    }
    const std::string line = id + "\r\n";
    try {
        WriteAll(appendFd_, line, path_);
        if (::fdatasync(appendFd_) != 0) RaiseWrite(path_, errno);
    } catch (...) {
        // Whatever part of the line reached the file goes again: a cut-off id could equal the
        // start of another message's id and hide that message for good.
        if (::ftruncate(appendFd_, appendSize_) == 0) ::fdatasync(appendFd_);
        ::close(appendFd_);
        appendFd_ = -1;
        throw;
    }
    appendSize_ += static_cast<off_t>(line.size());
}

}  // namespace tarnwick
