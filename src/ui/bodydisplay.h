#pragma once

#include "util/stringlist.h"

#include <QByteArray>

// The bytes the body pane shows for an article: its body lines, decoded for reading when the
// article says they are quoted-printable or Base64.
//
// headerText is the text of the article's header lines; bodyLines are its body lines as the
// news client delivers them, dot-stuffing already undone, with the "." that closed the reply
// as the last item. A "." anywhere else is a line the poster wrote and is shown as such.
//
// A header (or, in a multipart body, a part header) "Content-Transfer-Encoding:
// quoted-printable" decodes the whole body as quoted-printable; a header naming base64 decodes
// it as Base64, and a body that is not valid Base64 is shown as it came. Only a single space
// after the colon is recognised. The result is trimmed of blanks and control characters at
// both ends before any decoding.
QByteArray BodyForDisplay(const QByteArray& headerText, const TStringList& bodyLines);
