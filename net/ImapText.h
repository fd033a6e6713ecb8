#pragma once
// Text forms of IMAP (RFC 3501, RFC 9051) outside the responses: folder names in modified UTF-7,
// uid sets, and a message held in a literal read as the POP3 transfer form is read.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

class TMailMessage;

// A folder name of this system's text as the protocol writes it (RFC 3501 5.1.3): printable ASCII
// as it is ("&" as "&-"), anything else as "&", the base64 of its UTF-16 ("," for "/"), "-".
// Raises EMailException for text that does not convert.
std::string ImapFolderName(const std::string& name);
// "1:3,7,9:10": the uids ascending, runs as ranges.
std::string ImapUidSet(std::vector<uint32_t> uids);
// The message (or header block) of a literal into message, as a RETR answer is read: header lines,
// then the body (decoded into parts unless message.NoDecode). A last line without CR LF is kept.
void ReadImapMessage(std::string_view literal, TMailMessage& message, int maxParts);

}  // namespace tarnwick
