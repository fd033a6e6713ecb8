#pragma once
// Mail of the kinds that reach a phone, for tests that forward through the real servers: every
// one must arrive byte for byte. Plus helpers to compare what was delivered.
#include <string>
#include <utility>
#include <vector>

#include "support/MailServers.h"

namespace tarnwick::test {

// A mailbox of the kinds of mail that reach a phone: every one must arrive byte for byte.
inline std::vector<std::pair<std::string, std::string>> VariedMailbox() {
    const std::string head = "From: Sender <sender@example.jp>\nTo: box@example.jp\nDate: Mon, 3 Jun 2024 09:00:00 +0900\n";
    std::string longLine(100 * 1024, 'x');
    for (size_t i = 0; i < longLine.size(); i += 97) longLine[i] = static_cast<char>('a' + i % 26);
    return {
        {"plain", head + "Subject: plain\nMessage-ID: <1@example.jp>\n\nHello.\n\nSecond paragraph.\n"},
        {"テスト転送",
         head + "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIRT5BdxsoQg==?=\nMessage-ID: <2@example.jp>\nMIME-Version: 1.0\n"
                "Content-Type: text/plain; charset=ISO-2022-JP\nContent-Transfer-Encoding: 7bit\n\n"
                "\x1b$B$3$s$K$A$O!\"@$3&!#\x1b(B\n"},
        {"base64",
         head + "Subject: base64\nMessage-ID: <3@example.jp>\nMIME-Version: 1.0\nContent-Type: text/plain; charset=UTF-8\n"
                "Content-Transfer-Encoding: base64\n\n44GT44KT44Gr44Gh44Gv44CB5LiW55WM44CCCg==\n"},
        {"qp",
         head + "Subject: qp\nMessage-ID: <4@example.jp>\nMIME-Version: 1.0\nContent-Type: text/plain; charset=ISO-8859-1\n"
                "Content-Transfer-Encoding: quoted-printable\n\na=3Db soft=\n break caf=E9\n=2E starts with a dot\n"},
        {"attachment",
         head + "Subject: attachment\nMessage-ID: <5@example.jp>\nMIME-Version: 1.0\n"
                "Content-Type: multipart/mixed;\n\tboundary=\"outer\"\n\nPreamble.\n--outer\n"
                "Content-Type: text/plain; charset=US-ASCII\n\nSee the file.\n--outer\n"
                "Content-Type: application/octet-stream; name=\"data.bin\"\nContent-Transfer-Encoding: base64\n"
                "Content-Disposition: attachment; filename=\"data.bin\"\n\n"
                "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4\n"
                "OTo7PD0+P0BBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5fYGFiY2RlZmdoaWprbG1ub3Bx\n"
                "--outer--\nEpilogue.\n"},
        {"nested",
         head + "Subject: nested\nMessage-ID: <6@example.jp>\nMIME-Version: 1.0\n"
                "Content-Type: multipart/mixed; boundary=\"a1\"\n\n--a1\n"
                "Content-Type: multipart/alternative; boundary=\"b2\"\n\n--b2\nContent-Type: text/plain\n\ntext\n--b2\n"
                "Content-Type: text/html\n\n<p>html</p>\n--b2--\n\n--a1\nContent-Type: text/plain; name=\"n.txt\"\n"
                "Content-Disposition: attachment\n\nnote\n--a1--\n"},
        {"dots", head + "Subject: dots\nMessage-ID: <7@example.jp>\n\n.\n..\n.hidden\n. \nend\n"},
        {"long", head + "Subject: long\nMessage-ID: <8@example.jp>\n\nbefore\n" + longLine + "\nafter\n"},
        {"uuencode",
         head + "Subject: uuencode\nMessage-ID: <9@example.jp>\n\nThe file:\n\nbegin 644 hello.txt\n"
                "-:&5L;&\\L('=O<FQD\"@``\n`\nend\n"},
        {"headers only", head + "Subject: headers only\nMessage-ID: <10@example.jp>\n"},
        {"empty body", head + "Subject: empty body\nMessage-ID: <11@example.jp>\n\n"},
    };
}

// Header block and body of a CR LF message; a message without an empty line is all header.
inline std::pair<std::string, std::string> SplitMessage(const std::string& crlf) {
    size_t blank = crlf.rfind("\r\n\r\n", 0) == 0 ? 0 : crlf.find("\r\n\r\n");
    if (blank == std::string::npos) return {crlf, ""};
    return {crlf.substr(0, blank + 2), crlf.substr(blank + 4)};
}

inline std::string SubjectOf(const DeliveredMessage& m) {
    std::string text = m.WithoutDeliveryTrace();
    size_t at = text.find("\nSubject: ");
    if (at == std::string::npos) return "";
    size_t end = text.find('\n', at + 1);
    return text.substr(at + 10, end - at - 10);
}

}  // namespace tarnwick::test
