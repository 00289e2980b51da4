// A fault injected into a write's working copy between the edit and the
// verify, so that tests can prove the verify refuses what a faulty writer
// would make. Never set outside tests.
#pragma once

#include <functional>
#include <string>

using WriteFault = std::function<void(const std::string& copyPath)>;

// Null clears it.
void SetWriteFaultForTesting(WriteFault fault);
