#pragma once
// The short notice that goes to the forwarding address instead of a message too big to forward,
// and the plain text of the short messages the program writes itself.
#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick {

class TMailMessage;

inline constexpr const char* SizeNoticeSubjectTag = "[サイズ超過] ";
// Longest body line of a notice, in octets as written.
inline constexpr size_t SizeNoticeLineLimit = 76;

// Fills notice (cleared first) from the header block of the original: its From and Date, the
// subject with the tag in front, the forwarding address as the one recipient, and a plain-text
// body naming sender, date, subject and size, in ISO-2022-JP, or in UTF-8 (base64) when the texts
// hold characters ISO-2022-JP lacks. The notice goes from the envelope sender the original would
// have gone from: its Return-Path is kept in the notice's header. Without a From (or without a
// header block) the notice is from ownAddress (the forwarding address when empty) and goes with
// the null sender. The notice is meant for the generating send path (NoEncode off), so the
// message model encodes its headers.
void ComposeSizeNotice(const TMailMessage& original, int64_t size, const std::string& forwardAddress,
                       TMailMessage& notice, const std::string& ownAddress = {});

// Sets message's subject, content type, charset, transfer encoding and body from texts in UTF-8:
// in ISO-2022-JP when every character has a form there, else in UTF-8 (base64). Body lines longer
// than SizeNoticeLineLimit are wrapped, continued under an indent.
void SetShortText(TMailMessage& message, const std::string& subjectUtf8, const std::vector<std::string>& linesUtf8);

}  // namespace tarnwick
