#include "message/AddressCoding.h"

namespace tarnwick {

std::string AddressItemToHeader(const TMailAddressItem& item, char encoding, TTransfer transfer,
                                std::string_view charset) {
    if (item.Name.empty()) return item.Address;
    bool plain = true;
    for (char ch : item.Name) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c < 32 || c >= 127) {
            plain = false;
            break;
        }
    }
    std::string name;
    if (!plain) {
        name = EncodeHeaderText(item.Name, AddressSpecials, encoding, transfer, charset);
    } else {
        name.reserve(item.Name.size() + 4);
        name += '"';
        for (char c : item.Name) {
            if (c == '\\' || c == '"') name += '\\';
            name += c;
        }
        name += '"';
    }
    return name + " <" + item.Address + ">";
}

std::string AddressListToHeader(const TMailAddressList& list, char encoding, TTransfer transfer,
                                std::string_view charset) {
    std::string out;
    for (int i = 0; i < list.Count(); ++i) {
        if (i > 0) out += ", ";
        out += AddressItemToHeader(list[i], encoding, transfer, charset);
    }
    return out;
}

}  // namespace tarnwick
