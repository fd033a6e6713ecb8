// Address headers ("From", "To", "Cc", ...) come from anyone on the Internet.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "message/AddressCoding.h"
#include "message/AddressList.h"
#include "net/ReversePath.h"

using namespace tarnwick;

namespace {

// A reverse-path is "<>" or one mailbox: printable ASCII, blanks only inside the quoted local
// part, nothing after the closing bracket.
void CheckReversePath(std::string_view address) {
    const std::string path = ReversePathFor(address).Path;
    if (path.size() < 2 || path.front() != '<' || path.back() != '>') __builtin_trap();
    bool quoted = false;
    for (size_t i = 1; i + 1 < path.size(); ++i) {
        const char c = path[i];
        if (c < ' ' || c > '~') __builtin_trap();
        if (quoted && c == '\\') {
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && (c == ' ' || c == '<' || c == '>')) {
            __builtin_trap();
        }
    }
    if (quoted) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TMailAddressList list;
    try {
        list.ParseAddresses(text);
    } catch (const EMailAddressParseError&) {
        // the items read before the fault stay
    }
    for (int i = 0; i < list.Count(); ++i) {
        CheckReversePath(list[i].Address);
        const std::string written = list[i].Text();
        // What an item writes must parse again without trouble of memory.
        TMailAddressItem again;
        try {
            again.SetText(written);
        } catch (const EMailAddressParseError&) {
        }
    }
    AddressListToHeader(list, 'B', TTransfer::iso2022jp, "ISO-2022-JP");

    TMailAddressItem item;
    try {
        item.SetText(text);
    } catch (const EMailAddressParseError&) {
    }
    (void)item.Text();
    CheckReversePath(item.Address);
    FirstOfAny("(\"< @\t", text);
    FirstNotIn(AtomCharsSpace, text);
    return 0;
}
