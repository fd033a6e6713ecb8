#include "app/cycle/SizeNotice.h"

#include "message/MailMessage.h"
#include "platform/Exception.h"

namespace tarnwick {

namespace {

std::string OrNone(const std::string& text) { return text.empty() ? std::string("(なし)") : text; }

// 1234567 -> "1,234,567"
std::string Grouped(int64_t value) {
    const std::string digits = IntToStr(value < 0 ? 0 : value);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

}  // namespace

void ComposeSizeNotice(const TMailMessage& original, int64_t size, const std::string& forwardAddress,
                       TMailMessage& notice) {
    notice.Clear();
    notice.NoEncode = false;
    notice.From.Assign(original.From);
    notice.Date = original.Date;
    notice.Subject = SizeNoticeSubjectTag + original.Subject;
    notice.Recipients.Add().SetText(forwardAddress);
    notice.ContentType = "text/plain";
    notice.CharSet = "ISO-2022-JP";
    notice.ContentTransferEncoding = "7bit";
    notice.ExtraHeaders.Add("MIME-Version: 1.0");

    const int64_t kilobytes = (size + 1023) / 1024;
    notice.Body.Add("大きすぎるため転送しなかったメールがあります。");
    notice.Body.Add("");
    notice.Body.Add("差出人: " + OrNone(original.From.Text()));
    notice.Body.Add("日付:   " + OrNone(original.Headers.GetHeaderValue("Date")));
    notice.Body.Add("件名:   " + OrNone(original.Subject));
    notice.Body.Add("サイズ: " + Grouped(kilobytes) + " KB (" + Grouped(size) + " バイト)");
}

}  // namespace tarnwick
