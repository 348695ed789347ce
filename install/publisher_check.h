#pragma once
#include <windows.h>

#include "install/signer_rules.h"

// Reads the code signature of the file open as file (path names the same
// file) through the system's trust provider and fills report. False when the
// trust or crypto library cannot be had.
bool InspectSignature(HANDLE file, const char* path, SignerReport* report);
bool InspectSignature(HANDLE file, const wchar_t* path, SignerReport* report);
// The whole check: the platform accepts the signature, the chain ends in a
// trusted root, the certificate is for code signing, and the policy's name,
// thumbprint and pin rules hold (see JudgeSigner).
TrustFailure CheckPublisher(HANDLE file, const char* path, const SignerPolicy& policy, SignerReport* report);
TrustFailure CheckPublisher(HANDLE file, const wchar_t* path, const SignerPolicy& policy, SignerReport* report);
// Logs why path was refused.
void LogRefusal(const char* path, TrustFailure failure, const SignerReport& report);

// The signer this build accepts for the updater and the cabinets that bring
// it (SETUP_UPDATER_PUBLISHER, SETUP_UPDATER_THUMBPRINTS, SETUP_UPDATER_PINS).
const SignerPolicy& UpdaterPolicy();
// All three empty: the check is off.
bool UpdaterCheckIsOff();
void SetUpdaterPolicyForTesting(const SignerPolicy& policy);
