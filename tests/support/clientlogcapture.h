#pragma once
// Collects the lines written to the client program's log category while it lives.
#include "client/core/ClientLog.h"
#include "support/logcapture.h"

class ClientLogCapture : public testsupport::CategoryCapture {
public:
    ClientLogCapture() : CategoryCapture(ClientLog()) {}
};
