#pragma once

#include <cstddef>

#include "web/RequestPath.h"

// Entries that would match nearly everything are refused before a command
// runs: a domain of one label ("com") or a whole country suffix ("com.cn")
// on a domain list, or a fragment of a few characters in the image filter.
enum class EntryVerdict {
    Accepted,
    TooFewLabels,        // .black, .white, .noimg: fewer than two labels
    WholeCountrySuffix,  // .black, .white, .noimg: only a suffix that MainDomain keeps whole
    FragmentTooShort,    // .filterimage: fewer than kMinImageFragment characters
};

constexpr size_t kMinImageFragment = 5;

// The verdict on a command (lower-cased suffix) and its parameter, judged as
// the list would store the entry (trimmed; a domain lower-cased and without
// leading dots; a fragment percent-decoded). An absent or empty entry is
// accepted: the command adds nothing then, as it always has.
EntryVerdict CheckEntry(const SuffixAndParameter& command);
