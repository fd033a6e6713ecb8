#include "net/MailTCPConnection.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "message/MailGlobal.h"
#include "net/MailIOHandlerSocket.h"
#include "net/MailStack.h"
#include "platform/Exception.h"
#include "platform/Streams.h"

namespace tarnwick {

TMailTCPConnection::TMailTCPConnection() {
    // Read progress counts bytes as the reader consumes them.
    inputBuffer_.OnBytesRemoved = [this](TMailSimpleBuffer&, int64_t count) {
        AddWork(TWorkMode::wmRead, static_cast<int32_t>(count));
    };
}

TMailTCPConnection::~TMailTCPConnection() {
    if (ioHandler_ != nullptr) {
        try {
            DropSocket();
        } catch (...) {
        }
    }
    FreeOwnedTransport();
    if (ioHandler_ != nullptr) RemoveFreeNotification(ioHandler_);
    if (intercept_ != nullptr) RemoveFreeNotification(intercept_);
}

// ---------------------------------------------------------------------------------------------
// Transport

void TMailTCPConnection::FreeOwnedTransport() {
    if (!ownedTransport_) return;
    std::unique_ptr<TMailIOHandler> owned = std::move(ownedTransport_);
    freeTransport_ = false;
    // Its destruction tells this connection (Notification), which forgets it.
    owned.reset();
}

void TMailTCPConnection::SetIOHandler(TMailIOHandler* handler) {
    if (ownedTransport_ && handler != ownedTransport_.get()) FreeOwnedTransport();
    if (ioHandler_ != nullptr && ioHandler_ != handler) RemoveFreeNotification(ioHandler_);
    ioHandler_ = handler;
    socketHandler_ = dynamic_cast<TMailIOHandlerSocket*>(handler);
    if (handler != nullptr) FreeNotification(handler);
}

void TMailTCPConnection::AdoptIOHandler(std::unique_ptr<TMailIOHandler> handler) {
    SetIOHandler(handler.get());
    ownedTransport_ = std::move(handler);
    freeTransport_ = true;
}

void TMailTCPConnection::SetIntercept(TMailConnectionIntercept* intercept) {
    if (intercept_ != nullptr && intercept_ != intercept) RemoveFreeNotification(intercept_);
    intercept_ = intercept;
    if (intercept != nullptr) FreeNotification(intercept);
}

void TMailTCPConnection::Notification(TMailComponent* destroyed) {
    if (destroyed == ioHandler_) {
        ioHandler_ = nullptr;
        socketHandler_ = nullptr;
    }
    if (destroyed == intercept_) intercept_ = nullptr;
}

// ---------------------------------------------------------------------------------------------
// State

void TMailTCPConnection::FireDisconnected() {
    if (OnDisconnected) OnDisconnected(*this);
}

void TMailTCPConnection::ResetInput() {
    inputBuffer_.ClearBuffer();
    peerClosed_ = false;
}

bool TMailTCPConnection::CheckDisconnected(bool raise, bool ignoreBuffer) {
    bool disconnected;
    if (peerClosed_ || ioHandler_ == nullptr) {
        if (ioHandler_ != nullptr && ioHandler_->IsConnected()) {
            DropSocket();
            ReportStatus(TMailStatus::hsDisconnected);
            FireDisconnected();
        }
        disconnected = ioHandler_ != nullptr;
    } else {
        disconnected = !ioHandler_->IsConnected();
    }
    if (disconnected && raise && (inputBuffer_.Size() == 0 || ignoreBuffer)) throw EMailConnClosedGracefully();
    return disconnected;
}

void TMailTCPConnection::ProbeDisconnected(bool raise) { FillInputBuffer(raise, 1, false); }

bool TMailTCPConnection::IsConnected() {
    CheckDisconnected(false, false);
    return ioHandler_ != nullptr && ioHandler_->IsConnected();
}

void TMailTCPConnection::Disconnect() {
    ReportStatus(TMailStatus::hsDisconnecting);
    // Whatever was gathered (a last command) still goes out before the close.
    if (writeBufferOpen_) {
        try {
            if (!writeBuffer_.empty() && IsConnected()) FlushWriteBuffer();
        } catch (const Exception&) {
        }
        CancelWriteBuffer();
    }
    DropSocket();
    if (freeTransport_) FreeOwnedTransport();
    FireDisconnected();
    ReportStatus(TMailStatus::hsDisconnected);
}

void TMailTCPConnection::DropSocket() {
    if (ioHandler_ == nullptr) return;
    peerClosed_ = true;
    if (intercept_ != nullptr) intercept_->Disconnect();
    ioHandler_->Close();
}

// ---------------------------------------------------------------------------------------------
// Reading

TMailTCPConnection::TReadExchange::TReadExchange(TMailTCPConnection& connection, bool paced) : connection_(connection) {
    if (connection.exchange_) return;
    owner_ = true;
    connection.exchange_ = true;
    connection.exchangePaced_ = paced;
    connection.exchangeStart_ = std::chrono::steady_clock::now();
    connection.exchangeReceived_ = 0;
}

TMailTCPConnection::TReadExchange::~TReadExchange() {
    if (owner_) connection_.exchange_ = false;
}

int64_t TMailTCPConnection::ExchangeMsLeft() const {
    using namespace std::chrono;
    microseconds allowed = milliseconds(ReadTimeout);
    if (exchangePaced_ && MinReadRate > 0) allowed += microseconds(exchangeReceived_ * 1000000 / MinReadRate);
    return duration_cast<milliseconds>(exchangeStart_ + allowed - steady_clock::now()).count();
}

int32_t TMailTCPConnection::FillInputBuffer(bool raiseIfDisconnected, int timeout, bool raiseOnTimeout) {
    // Explicit time-outs are the caller's; the default one also ends with the running exchange.
    bool exchangeBound = timeout == -1 && ReadTimeout > 0 && exchange_;
    if (timeout == -1) timeout = ReadTimeout == 0 ? -2 : ReadTimeout;
    int32_t result = 0;
    CheckDisconnected(raiseIfDisconnected, false);
    if (!IsConnected()) {
        if (raiseIfDisconnected) throw EMailNotConnected();
        return 0;
    }
    // Never wait for an answer to bytes that are still gathered here.
    if (!writeBuffer_.empty()) FlushWriteBuffer();
    do {
        int wait = timeout;
        if (exchangeBound) {
            int64_t left = ExchangeMsLeft();
            if (left < wait) wait = static_cast<int>(std::max<int64_t>(left, 0));
        }
        int size = std::max<int32_t>(RecvBufferSize, 1);
        if (scratch_.size() != static_cast<size_t>(size)) scratch_.resize(static_cast<size_t>(size));
        // Bytes already there are taken without a wait first: one system call instead of two.
        // Right after a command they cannot be there yet, so the wait comes first.
        int received = TMailIOHandler::WouldBlock;
        if (!sentSinceRead_) received = ioHandler_->TryReceive(scratch_.data(), size);
        sentSinceRead_ = false;
        if (received == TMailIOHandler::WouldBlock) {
            if (!ioHandler_->WaitReadable(wait)) {
                if (raiseOnTimeout) throw EMailReadTimeout();
                return -1;
            }
            received = ioHandler_->Receive(scratch_.data(), size);
        }
        int error = received < 0 ? Stack().SockGetLastError() : 0;
        peerClosed_ = received == 0;
        if (received < 0) {
            if (error == wsa::WSAESHUTDOWN || error == wsa::WSAECONNABORTED) {
                DropSocket();
                if (inputBuffer_.Size() == 0) Stack().RaiseSocketError(error);
                received = 0;
            } else {
                // A reset ends the connection as a close does; the caller's Disconnect then
                // does not try to talk to a dead peer.
                if (error == wsa::WSAECONNRESET) DropSocket();
                Stack().RaiseSocketError(error);
            }
        }
        if (received > 0) {
            exchangeReceived_ += received;
            if (intercept_ != nullptr || ASCIIFilter) {
                std::string bytes(scratch_.data(), static_cast<size_t>(received));
                if (intercept_ != nullptr) intercept_->Receive(bytes);
                if (ASCIIFilter)
                    for (char& c : bytes) c = static_cast<char>(c & 0x7F);
                inputBuffer_.Append(bytes);
            } else {
                inputBuffer_.Append(scratch_.data(), received);
            }
        }
        CheckDisconnected(raiseIfDisconnected, false);
        result = received;
    } while (result == 0 && IsConnected());
    return result;
}

void TMailTCPConnection::CountContent(int64_t termPos, int64_t termLength, bool lineComplete) {
    if (contentLimit_ < 0) return;
    const char* bytes = inputBuffer_.Bytes();
    int64_t length = lineComplete ? termPos + termLength : inputBuffer_.Size();
    // The end line, or the start of it, is no content.
    int64_t text = lineComplete ? termPos : length;
    if (text > 0 && bytes[text - 1] == '\r') --text;
    if (text == 1 && bytes[0] == '.') length = 0;
    if (length >= 2 && bytes[0] == '.' && bytes[1] == '.') --length;
    if (contentRead_ + length > contentLimit_) throw EMailMessageTooLarge(0, contentLimit_);
    if (lineComplete) contentRead_ += length;
}

std::string TMailTCPConnection::ReadLine(std::string_view terminator, int timeout, int maxLength) {
    // A line must be complete within the read time-out as a whole.
    TReadExchange exchange(*this, false);
    if (maxLength < 0) maxLength = MaxLineLength;
    if (terminator.empty()) terminator = "\n";
    lineWasSplit_ = false;
    lineTimedOut_ = false;
    const int64_t termLength = static_cast<int64_t>(terminator.size());
    int64_t termPos = -1;  // 0-based start of the terminator in the buffer
    int64_t searched = 0;  // bytes already searched: each byte is looked at once
    for (;;) {
        int64_t size = inputBuffer_.Size();
        if (size > 0 && size > searched) {
            // A terminator may straddle the old end of the searched bytes.
            int64_t from = std::max<int64_t>(0, searched - (termLength - 1));
            size_t hit = FindInMemory(terminator, inputBuffer_.Bytes() + from, static_cast<size_t>(size - from));
            if (hit != 0) termPos = from + static_cast<int64_t>(hit) - 1;
            searched = size;
        }
        if (maxLength != 0 && ((termPos >= 0 && termPos > maxLength) || (termPos < 0 && searched > maxLength))) {
            if (MaxLineAction == TMailMaxLineAction::maException) throw EMailReadLnMaxLineLengthExceeded();
            lineWasSplit_ = true;
            return inputBuffer_.Extract(maxLength);
        }
        if (termPos >= 0) break;
        CountContent(termPos, termLength, false);
        CheckDisconnected(true, true);
        int32_t received = FillInputBuffer(true, timeout, timeout == -1);
        if (received <= 0) {
            // The peer closed (or an explicit time-out ran out) with an unterminated rest buffered.
            lineTimedOut_ = true;
            return {};
        }
    }
    CountContent(termPos, termLength, true);
    int64_t lineLength = termPos;
    if (terminator == "\n" && lineLength > 0 && inputBuffer_.Bytes()[lineLength - 1] == '\r') --lineLength;
    std::string line(inputBuffer_.Bytes(), static_cast<size_t>(lineLength));
    inputBuffer_.Remove(termPos + termLength);
    return line;
}

std::string TMailTCPConnection::ReadNonEmptyLine(int attempts) {
    std::string line;
    for (int i = 0; i < attempts && line.empty(); ++i) line = Trim(ReadLine());
    return line;
}

void TMailTCPConnection::ReadReplyLines() {
    // The whole reply, blank lines before it included, within one time-out and line limit.
    TReadExchange exchange(*this, false);
    int read = 0;
    auto next = [&] {
        std::string line;
        while (line.empty()) {
            if (MaxReplyLines > 0 && ++read > MaxReplyLines) {
                // The rest would be taken for the next replies.
                ResetInput();
                DropSocket();
                throw EMailTooManyLines("Reply longer than " + IntToStr(MaxReplyLines) + " lines.");
            }
            line = Trim(ReadLine());
        }
        return line;
    };
    TStringList lines;
    std::string line = next();
    lines.Add(line);
    if (line.size() > 3 && line[3] == '-') {
        std::string marker = line.substr(0, 3) + " ";
        do {
            line = next();
            lines.Add(line);
        } while (line.size() >= 4 && !SameText(std::string_view(line).substr(0, 4), marker));
    }
    LastReply.ParseReply(lines);
}

int16_t TMailTCPConnection::ReadReply(const std::vector<int16_t>& allowed) {
    ReadReplyLines();
    return CheckReplyCode(static_cast<int16_t>(LastReply.NumericCode()), allowed);
}

int16_t TMailTCPConnection::CheckReplyCode(int16_t code, const std::vector<int16_t>& allowed) {
    if (allowed.empty()) return code;
    if (std::find(allowed.begin(), allowed.end(), code) == allowed.end()) RaiseReplyError();
    return code;
}

void TMailTCPConnection::RaiseReplyError() {
    throw EMailProtocolReplyError(LastReply.NumericCode(), LastReply.Text.Text());
}

void TMailTCPConnection::ReadBytes(void* buffer, int64_t count) {
    if (count <= 0 || buffer == nullptr) return;
    while (inputBuffer_.Size() < count) {
        FillInputBuffer(true, -1, true);
        CheckDisconnected(true, true);
    }
    std::memcpy(buffer, inputBuffer_.Bytes(), static_cast<size_t>(count));
    inputBuffer_.Remove(count);
}

std::string TMailTCPConnection::TakeAvailable() {
    if (IsConnected()) FillInputBuffer(false, -1, true);
    return inputBuffer_.Extract(inputBuffer_.Size());
}

std::string TMailTCPConnection::ReadAll() {
    std::string all;
    StartWork(TWorkMode::wmRead, 0);
    try {
        while (IsConnected()) all += TakeAvailable();
        all += inputBuffer_.Extract(inputBuffer_.Size());
    } catch (...) {
        FinishWork(TWorkMode::wmRead);
        throw;
    }
    FinishWork(TWorkMode::wmRead);
    return all;
}

int TMailTCPConnection::CaptureLines(TStringList& list, std::string_view delimiter, bool unstuff, int maxLines,
                                     const std::string& tooManyText) {
    return CaptureInto(&list, nullptr, delimiter, unstuff, maxLines, tooManyText);
}

int TMailTCPConnection::CaptureLines(TStream& stream, std::string_view delimiter, bool unstuff) {
    return CaptureInto(nullptr, &stream, delimiter, unstuff);
}

int TMailTCPConnection::CaptureLines(std::nullptr_t, std::string_view delimiter, bool unstuff) {
    return CaptureInto(nullptr, nullptr, delimiter, unstuff);
}

int TMailTCPConnection::CaptureInto(TStringList* list, TStream* stream, std::string_view delimiter, bool unstuff,
                                    int maxLines, const std::string& tooManyText) {
    int count = 0;
    TReadExchange exchange(*this, true);
    StartWork(TWorkMode::wmRead, 0);
    try {
        for (;;) {
            std::string line = ReadLine();
            // A rest cut off by the close is no line; the next read raises the close.
            if (lineTimedOut_) continue;
            if (line == delimiter) break;
            if (maxLines > 0 && count >= maxLines) throw EMailTooManyLines(tooManyText);
            if (unstuff && line.size() >= 2 && line[0] == '.' && line[1] == '.') line.erase(0, 1);
            ++count;
            if (list != nullptr) {
                list->Add(std::move(line));
            } else if (stream != nullptr) {
                line += "\r\n";
                stream->WriteBuffer(line.data(), static_cast<int64_t>(line.size()));
            }
        }
    } catch (...) {
        FinishWork(TWorkMode::wmRead);
        throw;
    }
    FinishWork(TWorkMode::wmRead);
    return count;
}

// ---------------------------------------------------------------------------------------------
// Commands

int16_t TMailTCPConnection::SendCommand(const std::string& line, const std::vector<int16_t>& allowed) {
    WriteLine(line);
    return ReadReply(allowed);
}

int16_t TMailTCPConnection::SendCommand(const std::string& line, int16_t code) {
    if (code == -1) return SendCommand(line, std::vector<int16_t>{});
    return SendCommand(line, std::vector<int16_t>{code});
}

// ---------------------------------------------------------------------------------------------
// Writing

void TMailTCPConnection::WriteText(std::string_view text) {
    if (text.empty()) return;
    WriteBytes(text.data(), static_cast<int64_t>(text.size()));
}

void TMailTCPConnection::WriteLine(std::string_view text) {
    if (writeBufferOpen_) {
        // Gathered without building a joined copy; the bytes are the same.
        WriteBytes(text.data(), static_cast<int64_t>(text.size()));
        WriteBytes("\r\n", 2);
        return;
    }
    std::string line;
    line.reserve(text.size() + 2);
    line.append(text).append("\r\n");
    WriteBytes(line.data(), static_cast<int64_t>(line.size()));
}

void TMailTCPConnection::WriteBytes(const void* buffer, int64_t count, bool writeNow) {
    if (count <= 0 || buffer == nullptr) return;
    const char* bytes = static_cast<const char*>(buffer);
    if (writeBufferOpen_ && !writeNow) {
        CheckDisconnected(true, true);
        if (!IsConnected()) throw EMailNotConnected();
        writeBuffer_.append(bytes, static_cast<size_t>(count));
        if (writeThreshold_ > 0 && writeBuffer_.size() >= static_cast<size_t>(writeThreshold_)) SendGathered();
        return;
    }
    // Bytes written now must not overtake the ones gathered before them.
    if (!writeBuffer_.empty()) SendGathered();
    SendNow(bytes, count);
}

void TMailTCPConnection::SendNow(const char* bytes, int64_t count) {
    CheckDisconnected(true, true);
    if (!IsConnected()) throw EMailNotConnected();
    std::string hooked;
    if (intercept_ != nullptr) {
        hooked.assign(bytes, static_cast<size_t>(count));
        intercept_->Send(hooked);
        bytes = hooked.data();
        count = static_cast<int64_t>(hooked.size());
    }
    int64_t position = 0;
    while (position < count) {
        if (ioHandler_ == nullptr) throw EMailNotConnected();
        int chunk = static_cast<int>(std::min<int64_t>(count - position, INT32_MAX));
        // A peer that takes no bytes for as long as a read may wait for some ends the connection.
        ioHandler_->WriteTimeout = ReadTimeout > 0 ? ReadTimeout : -2;
        int sent;
        try {
            sent = ioHandler_->Send(bytes + position, chunk);
        } catch (const EMailWriteTimeout&) {
            // Part of a command or message may have gone: nothing more can follow it.
            DropSocket();
            throw;
        }
        int error = sent < 0 ? Stack().SockGetLastError() : 0;
        peerClosed_ = sent == 0;
        CheckDisconnected(true, false);
        if (sent < 0) {
            if (error == wsa::WSAESHUTDOWN || error == wsa::WSAECONNABORTED || error == wsa::WSAECONNRESET)
                DropSocket();
            Stack().RaiseSocketError(error);
        }
        AddWork(TWorkMode::wmWrite, sent);
        position += sent;
        sentSinceRead_ = true;
    }
}

void TMailTCPConnection::WriteLines(const TStringList& list, bool writeCount) {
    if (writeCount) WriteInt32(list.Count(), true);
    for (const std::string& line : list) WriteLine(line);
}

void TMailTCPConnection::WriteInt32(int32_t value, bool networkOrder) {
    uint32_t raw = static_cast<uint32_t>(value);
    if (networkOrder) raw = htonl(raw);
    WriteBytes(&raw, 4);
}

void TMailTCPConnection::WriteFromStream(TStream& stream, bool fromStart, bool writeByteCount, int64_t size) {
    if (fromStart) stream.SetPosition(0);
    int64_t position = stream.Position();
    int64_t end = size != 0 ? position + size : stream.Size();
    if (writeByteCount) WriteInt32(static_cast<int32_t>(end - position), true);
    StartWork(TWorkMode::wmWrite, static_cast<int32_t>(end - position));
    try {
        std::string chunk(static_cast<size_t>(std::max<int32_t>(SendBufferSize, 1)), '\0');
        for (;;) {
            int64_t want = std::min<int64_t>(end - position, static_cast<int64_t>(chunk.size()));
            if (want <= 0) break;
            int64_t got = stream.Read(chunk.data(), want);
            if (got <= 0) throw EMailNoDataToRead();
            WriteBytes(chunk.data(), got);
            position += got;
        }
    } catch (...) {
        FinishWork(TWorkMode::wmWrite);
        throw;
    }
    FinishWork(TWorkMode::wmWrite);
}

int64_t TMailTCPConnection::WriteFileContents(const std::string& fileName, bool allowSystemSend) {
    (void)allowSystemSend;
    if (!FileExists(fileName)) throw EMailFileNotFound(fileName);
    TFileStream file(fileName, TFileStream::fmOpenRead);
    int64_t size = file.Size();
    WriteFromStream(file, true, false, 0);
    return size;
}

// ---------------------------------------------------------------------------------------------
// Write buffer

void TMailTCPConnection::OpenWriteBuffer(int32_t threshold) {
    writeBufferOpen_ = true;
    writeThreshold_ = threshold < 0 ? SendBufferSize : threshold;
    if (writeBuffer_.capacity() < static_cast<size_t>(writeThreshold_) + 1024)
        writeBuffer_.reserve(static_cast<size_t>(writeThreshold_) + 1024);
    // Only large gathered chunks are sent while the buffer is open, so none of them needs to wait
    // for the acknowledgement of the one before (which the peer may delay by 40 ms or more).
    if (ioHandler_ != nullptr) ioHandler_->SetPushMode(true);
}

void TMailTCPConnection::SendGathered() {
    if (writeBuffer_.empty()) return;
    std::string pending;
    pending.swap(writeBuffer_);
    try {
        SendNow(pending.data(), static_cast<int64_t>(pending.size()));
    } catch (...) {
        // Keep the memory for the next use; the bytes themselves cannot be sent any more.
        pending.clear();
        writeBuffer_.swap(pending);
        throw;
    }
    pending.clear();
    writeBuffer_.swap(pending);
}

void TMailTCPConnection::FlushWriteBuffer() {
    if (writeBuffer_.empty()) return;
    if (ioHandler_ != nullptr) ioHandler_->SetPushMode(true);
    SendGathered();
}

void TMailTCPConnection::CloseWriteBuffer() {
    if (!writeBufferOpen_) return;
    try {
        FlushWriteBuffer();
    } catch (...) {
        CancelWriteBuffer();
        throw;
    }
    CancelWriteBuffer();
}

void TMailTCPConnection::ClearWriteBuffer() { writeBuffer_.clear(); }

void TMailTCPConnection::CancelWriteBuffer() {
    writeBuffer_.clear();
    if (writeBufferOpen_ && ioHandler_ != nullptr) ioHandler_->SetPushMode(false);
    writeBufferOpen_ = false;
}

}  // namespace tarnwick
