#pragma once
// What the download service takes from a request, apart from the service:
// both parse text that comes from anyone.
#include <string>
#include <vector>

// Letters, digits, "-", "_" and "." only, and at least one.
bool PlainText(const std::string& text);

// Empty when query is a parameter text the download takes: entries
// key=value joined by "&", each key one of keys (compared whole) and given
// once, each value plain text, at most 258 characters in all. Else a short
// reason for the client.
std::string JudgeQuery(const std::string& query, const std::vector<std::string>& keys);

// Whether an If-None-Match header names tag: "*" or a list of entity tags,
// a weak one compared by its value.
bool NoneMatchHolds(const char* header, const std::string& tag);
