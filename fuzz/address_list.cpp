// Address headers ("From", "To", "Cc", ...) come from anyone on the Internet.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "message/AddressCoding.h"
#include "message/AddressList.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TMailAddressList list;
    try {
        list.ParseAddresses(text);
    } catch (const EMailAddressParseError&) {
        // the items read before the fault stay
    }
    for (int i = 0; i < list.Count(); ++i) {
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
    FirstOfAny("(\"< @\t", text);
    FirstNotIn(AtomCharsSpace, text);
    return 0;
}
