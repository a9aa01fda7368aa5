#pragma once

#include <string>

#include "web/EntryCheck.h"
#include "web/RequestPath.h"

// The pages the local web server writes itself rather than reads from the
// page folder: UTF-8, in Chinese and English like the shipped pages. The
// command's parameter is shown HTML-escaped.

// Says what the command will change and holds the form that confirms it: a
// POST to the page's own address (the same path and query) carrying the
// token in the field "token", with a Confirm and a Cancel button.
std::string ConfirmationPage(const SuffixAndParameter& command, const std::string& token);

// Says why the command's entry was refused and that nothing changed.
std::string RefusalPage(EntryVerdict verdict, const SuffixAndParameter& command);
