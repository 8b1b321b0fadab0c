#pragma once

#include <QByteArray>
#include <QHash>
#include <QIcon>
#include <QString>
#include <cstdint>

class QWidget;

// A resource-only file in Qt's binary resource format (a language module Reflasher_xxx.DLL, or
// Reflasher.dll with its version), registered under a root of its own while loaded. A language
// module holds strings.json (string id -> text), templates/<id>.ui (Qt Designer forms whose
// widget object names are control ids) and icons/<id>.png.
//
// Errors: lookups return false, null or an empty value; nothing throws. Use on the GUI thread.
class QtResourceModule {
public:
    QtResourceModule();
    ~QtResourceModule();
    QtResourceModule(const QtResourceModule&) = delete;
    QtResourceModule& operator=(const QtResourceModule&) = delete;

    // Registers the file at path, replacing a module loaded before; false when the file cannot
    // be registered (missing, unreadable, not a resource file) or its string table is unreadable.
    bool Load(const QString& path);
    void Unload();
    bool IsLoaded() const { return !root_.isEmpty(); }

    // Always false when no module is loaded.
    bool LoadString(std::uint32_t id, QString& text) const;
    // The string, or an empty text when there is none.
    QString String(std::uint32_t id) const;
    // Instantiates a dialog template; the caller owns the widget. Null when it is missing or
    // cannot be built.
    QWidget* LoadTemplate(std::uint32_t id, QWidget* parent) const;
    // A null icon when missing. The pixels are read at once, so the icon outlives the module.
    QIcon LoadIcon(std::uint32_t id) const;
    // A file of the module by its path inside it, e.g. "StringFileInfo/040904B0/FileVersion".
    bool ReadFile(const QString& path, QByteArray& data) const;

private:
    QString ResourcePath(const QString& path) const;

    QString file_;
    QString root_;  // where the file is registered, e.g. "/module-3"; empty when none
    QHash<std::uint32_t, QString> strings_;
};
