#include "lumetrove/platform/Symbols.h"

#include <QHash>
#include <array>
#include <utility>

namespace lumetrove {

namespace {

struct SymbolEntry {
    const char* symbolName;
    /// Names from the freedesktop icon-naming list; the first that the current theme has wins.
    std::array<const char*, 2> themeNames;
};

constexpr std::array symbolTable{
    SymbolEntry{"star", {"starred", "emblem-favorite"}},
    SymbolEntry{"clock", {"document-open-recent", "appointment-soon"}},
    SymbolEntry{"folder", {"folder", nullptr}},
    SymbolEntry{"gearshape", {"emblem-system", "preferences-system"}},
    SymbolEntry{"plus.circle", {"list-add", nullptr}},
    SymbolEntry{"trash", {"user-trash", "edit-delete"}},
    // No theme names a head in profile; the bundled image is the symbol.
    SymbolEntry{"brain.head.profile", {nullptr, nullptr}},
    SymbolEntry{"checkmark", {"object-select", "emblem-ok"}},
    SymbolEntry{"doc.on.clipboard", {"edit-copy", nullptr}},
    // The assistant panel's "Process" button: a search of the selected area.
    SymbolEntry{"AIScan", {"system-search", "edit-find"}},
};

const SymbolEntry* findSymbol(const QString& symbolName)
{
    for (const SymbolEntry& entry : symbolTable) {
        if (symbolName == QLatin1String(entry.symbolName)) {
            return &entry;
        }
    }
    return nullptr;
}

QIcon bundledIcon(const QString& symbolName)
{
    // Both sizes are added by hand: QIcon picks the @2x file by itself only for a file it was given by
    // name, not for the addFile path we use to keep the fallback separate from the theme lookup.
    QIcon icon;
    icon.addFile(QStringLiteral(":/symbols/%1.png").arg(symbolName), QSize(32, 32));
    icon.addFile(QStringLiteral(":/symbols/%1@2x.png").arg(symbolName), QSize(64, 64));
    return icon;
}

} // namespace

QIcon symbolIcon(const QString& symbolName)
{
    const SymbolEntry* entry = findSymbol(symbolName);
    if (entry == nullptr) {
        return {};
    }
    // Icons are looked up again on every call, so that a theme change shows; QIcon caches the files.
    for (const char* themeName : entry->themeNames) {
        if (themeName != nullptr && QIcon::hasThemeIcon(QLatin1String(themeName))) {
            return QIcon::fromTheme(QLatin1String(themeName));
        }
    }
    return bundledIcon(symbolName);
}

QStringList knownSymbolNames()
{
    QStringList names;
    names.reserve(static_cast<qsizetype>(symbolTable.size()));
    for (const SymbolEntry& entry : symbolTable) {
        names.append(QLatin1String(entry.symbolName));
    }
    return names;
}

} // namespace lumetrove
