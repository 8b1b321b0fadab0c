#include "updater/QtResourceModule.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPixmap>
#include <QResource>
#include <QUiLoader>
#include <QWidget>
#include <atomic>

namespace {

// Each module gets a root of its own, so that two loaded modules never shadow each other.
std::atomic<int> nextRoot{1};

}  // namespace

QtResourceModule::QtResourceModule() = default;

QtResourceModule::~QtResourceModule() {
    Unload();
}

bool QtResourceModule::Load(const QString& path) {
    Unload();
    const QString root = QStringLiteral("/module-%1").arg(nextRoot.fetch_add(1));
    if (!QResource::registerResource(path, root)) {
        return false;
    }
    file_ = path;
    root_ = root;
    QByteArray json;
    if (!ReadFile(QStringLiteral("strings.json"), json)) {
        return true;  // a module without strings, such as the version resource
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        Unload();
        return false;
    }
    const QJsonObject table = document.object();
    for (auto it = table.begin(); it != table.end(); ++it) {
        bool isNumber = false;
        const std::uint32_t id = it.key().toUInt(&isNumber);
        if (isNumber && it.value().isString()) {
            strings_.insert(id, it.value().toString());
        }
    }
    return true;
}

void QtResourceModule::Unload() {
    if (root_.isEmpty()) {
        return;
    }
    QResource::unregisterResource(file_, root_);
    file_.clear();
    root_.clear();
    strings_.clear();
}

QString QtResourceModule::ResourcePath(const QString& path) const {
    return QLatin1Char(':') + root_ + QLatin1Char('/') + path;
}

bool QtResourceModule::LoadString(std::uint32_t id, QString& text) const {
    const auto it = strings_.constFind(id);
    if (it == strings_.constEnd()) {
        return false;
    }
    text = *it;
    return true;
}

QString QtResourceModule::String(std::uint32_t id) const {
    return strings_.value(id);
}

QWidget* QtResourceModule::LoadTemplate(std::uint32_t id, QWidget* parent) const {
    if (!IsLoaded()) {
        return nullptr;
    }
    QFile form(ResourcePath(QStringLiteral("templates/%1.ui").arg(id)));
    if (!form.open(QIODevice::ReadOnly)) {
        return nullptr;
    }
    QUiLoader loader;
    QWidget* widget = loader.load(&form, parent);
    form.close();  // an open file keeps the module from being unregistered
    return widget;
}

QIcon QtResourceModule::LoadIcon(std::uint32_t id) const {
    if (!IsLoaded()) {
        return {};
    }
    const QPixmap pixmap(ResourcePath(QStringLiteral("icons/%1.png").arg(id)));
    return pixmap.isNull() ? QIcon() : QIcon(pixmap);
}

bool QtResourceModule::ReadFile(const QString& path, QByteArray& data) const {
    if (!IsLoaded()) {
        return false;
    }
    QFile file(ResourcePath(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    data = file.readAll();
    return true;
}
