// Whatever a server sends reaches the line reader, the reply parser and the line capture: feed
// them arbitrary bytes, in arbitrary pieces, through an in-memory transport.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "message/MailMessage.h"
#include "net/MailExceptions.h"
#include "net/MailPOP3.h"
#include "net/MailSMTP.h"
#include "net/MailTCPConnection.h"
#include "MemoryTransport.h"

using namespace tarnwick;
using tarnwick::fuzz::MemoryTransport;

namespace {


template <class Connection = TMailTCPConnection, class Body>
void Run(const uint8_t* data, size_t size, size_t piece, Body body, bool open = true) {
    MemoryTransport transport(data, size, piece, open);
    Connection connection;
    connection.MaxLineLength = 64;
    connection.SetIOHandler(&transport);
    try {
        body(connection);
    } catch (const Exception&) {
    }
    connection.SetIOHandler(nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t piece = static_cast<size_t>(data[0] % 17) + 1;
    ++data;
    --size;

    Run(data, size, piece, [](TMailTCPConnection& c) {
        for (int i = 0; i < 1000; ++i) {
            c.ReadReply({250, 1});
        }
    });
    Run(data, size, piece, [](TMailTCPConnection& c) {
        TStringList lines;
        c.CaptureLines(lines);
        c.CaptureLines(nullptr, "<end>", false);
    });
    Run(data, size, piece, [](TMailTCPConnection& c) {
        // Whatever comes, no more lines or bytes than allowed are kept.
        c.MaxReplyLines = 3;
        c.LimitContent(200);
        TStringList lines;
        try {
            c.ReadReply();
            c.CaptureLines(lines, ".", true, 20, "too many");
        } catch (const EMailException&) {
        }
        size_t bytes = 0;
        for (const std::string& line : lines) bytes += line.size() + 1;
        if (lines.Count() > 20 || bytes > 200) __builtin_trap();
    });
    Run(data, size, piece, [](TMailTCPConnection& c) {
        c.MaxLineAction = TMailMaxLineAction::maSplit;
        for (int i = 0; i < 1000; ++i) {
            std::string line = c.ReadLine(i % 2 ? "\n" : "\r\n.");
            if (line.size() > 64) __builtin_trap();
        }
    });
    Run<TMailPOP3>(data, size, piece, [](TMailPOP3& pop3) {
        // Pipelined sizes and retrievals: one size per number asked, whatever the answers.
        if (!pop3.Pipelining()) return;
        if (pop3.ListSizes({1, 2, 3}).size() != 3) __builtin_trap();
        TMailMessage message;
        message.NoDecode = true;
        pop3.SendRetrieve(1);
        pop3.ReadRetrieved(message);
    });
    Run<TMailSMTP>(
        data, size, piece,
        [](TMailSMTP& smtp) {
            // The greeting and EHLO (SIZE limits, PIPELINING), then queued messages whose replies
            // come in any order and shape: each FinishMail settles exactly one.
            smtp.HeloName = "fuzz";
            smtp.Connect(-1);
            TMailMessage message;
            message.NoEncode = true;
            message.Headers.SetText("Subject: s\r\n");
            message.Body.SetText("b\xe9\r\n.\r\n");
            message.From.SetText("a@example.jp");
            message.Recipients.ParseAddresses("b@example.jp");
            for (int i = 0; i < 3; ++i) {
                if (!smtp.QueueMail(message)) break;
                if (smtp.QueuedMails() < 2) continue;
                const size_t before = smtp.QueuedMails();
                try {
                    smtp.FinishMail();
                } catch (const EMailException&) {
                }
                if (smtp.QueuedMails() != before - 1) __builtin_trap();
            }
            while (smtp.QueuedMails() > 0) {
                const size_t before = smtp.QueuedMails();
                try {
                    smtp.FinishMail();
                } catch (const EMailException&) {
                }
                if (smtp.QueuedMails() != before - 1) __builtin_trap();
            }
        },
        false);
    return 0;
}
