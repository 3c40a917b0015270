#pragma once
// Where the sync program's HTTP client reports a transfer's progress. The net layer only
// counts bytes; the caller decides where a share goes (the engine routes it to the row of
// the running page that shows the transfer). A sink is passed by pointer to one call and
// must outlive it; a null sink means "report nowhere". Report runs on the thread that
// performs the request, between its network reads or writes: keep it short.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    // The share of the transfer done so far, 0 to 100.
    virtual void Report(double percent) const = 0;
};
