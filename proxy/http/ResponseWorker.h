#pragma once

struct ConnectionRecord;

// Reads the origin server's answer on the record's upstream socket and
// answers the browser: HTML read whole and filtered, images, video and flash
// possibly replaced by the empty image, everything else relayed as it comes.
// Closes no socket. Returns 0 (-1 for a null record).
int ResponseWorker(ConnectionRecord* record);

// The canned answers, byte for byte.
extern const char kEmptyImageResponse[];  // 83 bytes
extern const char kNotFoundPageFile[];     // "www/404.htm"
extern const char kAddressFilterPageFile[];
extern const char kIntellFilterTipPageFile[];
