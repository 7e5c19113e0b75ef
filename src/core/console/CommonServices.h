#pragma once

namespace tulmo {

class Clock;
class Database;
class Prompt;

// What every window of the console works with: the station's database, the clock and the
// prompt that asks and tells the operator. A window is given these and the few services of
// its own work, never the whole core.
struct CommonServices {
    Database &database;
    const Clock &clock;
    Prompt *prompt;
};

} // namespace tulmo
