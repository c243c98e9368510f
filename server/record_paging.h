// Which module records a client is given: a record's event id
// ("RUN.SEQUENCE"), where a client that comes back goes on (its
// Last-Event-ID, or ?after=N with &run=RUN), and how many records a page
// of /api/modules holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A page's records when the client names no limit, and at most.
enum : size_t { kPageRecords = 1000 };

// "RUN.SEQUENCE"; the sequence alone when run is empty.
std::string EventId(const std::string& run, int64_t sequence);

// The sequence after which a client goes on. text: "RUN.SEQUENCE" or a
// plain SEQUENCE (one of this run's); run: a run named besides it (?run=),
// empty when none. A record of another run than thisRun gives 0: every
// record of this run. False when text is neither form.
bool ResumeAfter(const std::string& text, const std::string& run, const std::string& thisRun,
                 int64_t* after);

// limit=M of /api/modules: 1 or more, kPageRecords at most (a larger one is
// taken as kPageRecords). False when it is no such number.
bool PageLimit(const std::string& text, size_t* limit);
