#pragma once
// Address items and lists written as header values, display names encoded where they must be.
#include <string>
#include <string_view>

#include "message/AddressList.h"
#include "message/HeaderCoding.h"

namespace tarnwick {

// "Name <address>" with the name quoted (printable ASCII) or encoded (anything else); the bare
// address when the name is empty.
std::string AddressItemToHeader(const TMailAddressItem& item, char encoding, TTransfer transfer,
                                std::string_view charset);
// The items joined with ", "; empty for an empty list.
std::string AddressListToHeader(const TMailAddressList& list, char encoding, TTransfer transfer,
                                std::string_view charset);

}  // namespace tarnwick
