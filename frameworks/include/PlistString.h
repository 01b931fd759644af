#pragma once

#include <plist/plist.h>

#include <cstdlib>
#include <string>

// The text of a string node; empty for anything else.
inline std::string plistString(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::string();
    char* text = nullptr;
    plist_get_string_val(node, &text);
    std::string result = text ? text : "";
    std::free(text);
    return result;
}
