#pragma once

#include <plist/plist.h>

#include <cstdlib>
#include <string>

// The text of a string node; empty for anything else.
inline std::string plistString(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::string();
    // By pointer and length: a string holding a zero byte would trip libplist's own check.
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    return text ? std::string(text, size_t(length)) : std::string();
}

// The text of a dictionary's string item; empty when the node is not a dictionary or the item
// is missing or of another type.
inline std::string plistDictString(plist_t dict, const char* key)
{
    return dict && plist_get_node_type(dict) == PLIST_DICT ? plistString(plist_dict_get_item(dict, key))
                                                           : std::string();
}
