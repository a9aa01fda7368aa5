#pragma once

#include <string>

// Reduces a host name to its last two labels, keeping ten two-label country
// suffixes ("com.cn", "com.hk", ...) whole: a.example.com.cn -> example.com.cn.
std::string MainDomain(const std::string& host);
