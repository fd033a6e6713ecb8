#include "message/Coders.h"

namespace tarnwick {

int64_t TMailReadMemoryStream::Read(void*, int64_t) { return 0; }
int64_t TMailReadMemoryStream::Write(const void*, int64_t) { return 0; }
int64_t TMailReadMemoryStream::Seek(int64_t, TSeekOrigin) { return position_; }
std::string TMailEncoder::EncodeText(std::string_view) { return {}; }
std::string TMailEncoder3to4::EncodeFromStream(TStream&, int64_t) { return {}; }
void TMailEncoder3to4::EncodeGroup(const unsigned char*, char*) const {}
void TMailDecoder4to3::DecodeIntoStream(std::string_view, TStream&) {}
void TMailDecoder4to3::BuildDecodeTable(std::string_view, TMailDecodeTable&) {}
uint32_t TMailDecoder4to3::DecodeGroup(const char*) const { return 0; }
uint32_t TMailDecoder4to3::Value(char) const { return 255; }
TMailEncoderMIME::TMailEncoderMIME() {}
TMailDecoderMIME::TMailDecoderMIME() {}
std::string TMailEncoderUUEBase::EncodeFromStream(TStream&, int64_t) { return {}; }
void TMailDecoderUUEBase::DecodeIntoStream(std::string_view, TStream&) {}
TMailEncoderUUE::TMailEncoderUUE() {}
TMailDecoderUUE::TMailDecoderUUE() {}
void TMailDecoderUUE::DecodeIntoStream(std::string_view, TStream&) {}
TMailEncoderXXE::TMailEncoderXXE() {}
TMailDecoderXXE::TMailDecoderXXE() {}
std::string TMailEncoderQuotedPrintable::EncodeFromStream(TStream&, int64_t) { return {}; }
void TMailDecoderQuotedPrintable::DecodeIntoStream(std::string_view, TStream&) {}

}  // namespace tarnwick
