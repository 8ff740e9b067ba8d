#pragma once

#include "nntp/qrextstr.h"

// Text typed by a user goes out as UTF-8 (RFC 2045, RFC 2047). An article whose header and
// body are plain ASCII goes out as it is. One with other bytes, when they are valid UTF-8,
// is declared: "MIME-Version: 1.0", "Content-Type: text/plain; charset=UTF-8" and
// "Content-Transfer-Encoding: 8bit" are set where the header does not have them, and every
// header value that is not ASCII becomes RFC 2047 encoded words (identifier fields and
// Newsgroups excepted, which must be ASCII anyway). Bytes that are not UTF-8 are left alone:
// declaring them UTF-8 would be wrong.
void DeclareUtf8Article(TExStringList& header, const TStringList& body);

// The three header names DeclareUtf8Article sets.
extern const char* const kMimeDeclarationNames[3];
