#pragma once
#include <windows.h>

#include "base/byte_string.h"

// The modal "Enter Proxy/Firewall Access Details" prompt, built in memory.
// OK stores both texts (at most 999 characters each) in the targets and
// answers true; Cancel, or a dialog that cannot be shown, leaves them as they
// were and answers false. Not reentrant: one prompt at a time.
bool ShowProxyLoginDialog(ByteString* user, ByteString* password, HWND owner);

// Identifiers of the prompt's two edits.
enum { kProxyUserEdit = 1001, kProxyPasswordEdit = 1002 };
