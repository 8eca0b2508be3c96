#pragma once

// True when the running executable's own code signature is valid, or when the system has none.
bool VerifyOwnCodeSignature();
