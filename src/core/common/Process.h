#pragma once

namespace tulmo {

// Process-wide settings made once at start, before any thread or database attachment:
// with TZ unset, the C library looks /etc/localtime up again on every local-time
// conversion, hundreds of times per recorded event; naming the same file once keeps the
// zone and drops those look-ups.
void prepareProcess();

} // namespace tulmo
