#pragma once
// maker serve: a FastCGI responder that answers each download link with a
// copy of the signed Setup.exe stamped with the link's parameters.
#include <string>
#include <vector>

// Runs until SIGTERM; the exit code. args: what follows "serve".
int ServeDownloads(const std::vector<std::string>& args);
