#pragma once
#include <windows.h>

#include "install/signer_rules.h"

// Reads the code signature of the file open as file (path names the same
// file) through the system's trust provider and fills report. False when the
// trust or crypto library cannot be had.
bool InspectSignature(HANDLE file, const char* path, SignerReport* report);
// The whole check: the platform accepts the signature, the chain ends in a
// trusted root, the certificate is for code signing, and the publisher and
// thumbprint rules hold (see JudgeSigner).
TrustFailure CheckPublisher(HANDLE file, const char* path, const char* publisher, const char* thumbprints,
                            SignerReport* report);

// The updater's signer as this build accepts it (SETUP_UPDATER_PUBLISHER,
// SETUP_UPDATER_THUMBPRINTS); both empty turns the check off.
const char* UpdaterPublisher();
const char* UpdaterThumbprints();
void SetUpdaterTrustForTesting(const char* publisher, const char* thumbprints);

enum StartOutcome { kStarted, kNotStarted, kNotTrusted };
// Opens program so that nobody can write or delete it, checks it and starts
// it while it stays open. A program that fails the check is deleted and the
// log says why.
StartOutcome StartCheckedProcess(const char* program, const char* arguments, const char* folder);
