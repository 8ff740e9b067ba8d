#include "ui/fonts.h"

#include <QFont>
#include <QStringList>

void InstallFontSubstitutes() {
    const QString sans = QStringLiteral("DejaVu Sans");
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                QStringLiteral("Helvetica"), sans});
    QFont::insertSubstitutions(QStringLiteral("Tahoma"),
                               {QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans Condensed"),
                                QStringLiteral("Liberation Sans"), sans});
    QFont::insertSubstitutions(QStringLiteral("Trebuchet MS"),
                               {QStringLiteral("Fira Sans"), QStringLiteral("Ubuntu"),
                                QStringLiteral("Liberation Sans"), sans});
    QFont::insertSubstitutions(QStringLiteral("Maiandra GD"),
                               {QStringLiteral("URW Gothic"), QStringLiteral("Comfortaa"),
                                QStringLiteral("Quicksand"), sans});
    QFont::insertSubstitutions(QStringLiteral("Franklin Gothic Medium"),
                               {QStringLiteral("Libre Franklin"), QStringLiteral("Archivo"),
                                QStringLiteral("DejaVu Sans Condensed"), sans});
}
