#pragma once

#include <string>
#include <string_view>

// Reduces a host name to its last two labels, keeping ten two-label country
// suffixes ("com.cn", "com.hk", ...) whole: a.example.com.cn -> example.com.cn.
std::string MainDomain(const std::string& host);

// True when the name is exactly one of those ten suffixes.
bool IsKeptSuffix(std::string_view name);
