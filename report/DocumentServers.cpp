#include "DocumentServers.h"

#include "report/ServerModule.h"
#include "report/Word_2K.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>

#include <dlfcn.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

Q_LOGGING_CATEGORY(lcModules, "velmora.report.modules")

namespace {

// A shared object loaded for the rest of the program's life: a server's objects and threads,
// and LibreOffice's UNO runtime, do not survive an unload.
class TSharedObject {
public:
    // Null, with the loader's reason in `error`, when it cannot be loaded.
    static std::unique_ptr<TSharedObject> Load(const QString& path, QString* error) {
        void* const handle = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            *error = QString::fromLocal8Bit(::dlerror());
            return nullptr;
        }
        return std::unique_ptr<TSharedObject>(new TSharedObject(handle));
    }

    void* Symbol(const char* name) const { return ::dlsym(handle_, name); }

private:
    explicit TSharedObject(void* handle) : handle_(handle) {}
    void* handle_;  // never closed, see above
};

// LibreOffice's program folder, which holds its UNO runtime: the folder UNO_PATH names (as
// LibreOffice's SDK has a program outside the office name it), else the folder of the soffice
// found on the PATH, else Debian's.
QString LibreOfficeProgramFolder() {
    const QString named = qEnvironmentVariable("UNO_PATH");
    if (!named.isEmpty()) {
        return named;
    }
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (!soffice.isEmpty()) {
        return QFileInfo(QFileInfo(soffice).canonicalFilePath()).absolutePath();
    }
    return QStringLiteral("/usr/lib/libreoffice/program");
}

// The libraries of LibreOffice's UNO runtime that the LibreOffice module links with. They are
// loaded by their full paths first, so that the module finds them loaded without a search path
// into LibreOffice's folder; each finds its companions beside itself.
bool LoadUnoRuntime(QString* error) {
    static const QString folder = LibreOfficeProgramFolder();
    static std::map<std::string, std::unique_ptr<TSharedObject>> loaded;
    for (const char* library : {"libuno_sal.so.3", "libuno_salhelpergcc3.so.3", "libuno_cppu.so.3",
                                "libuno_cppuhelpergcc3.so.3"}) {
        if (loaded.contains(library)) {
            continue;
        }
        auto object = TSharedObject::Load(QDir(folder).filePath(QLatin1String(library)), error);
        if (!object) {
            return false;
        }
        loaded.emplace(library, std::move(object));
    }
    return true;
}

struct TModuleKind {
    const char* file;
    bool (*prepare)(QString* error);  // loads what the module needs first; may be null
};

constexpr TModuleKind kDocxModule{"velmora-docx.so", nullptr};
constexpr TModuleKind kLibreOfficeModule{"velmora-libreoffice.so", LoadUnoRuntime};

QString& SetFolder() {
    static QString folder;
    return folder;
}

// The entry of a module, loaded on first use; null while it cannot be loaded (asked again at
// the next report, so that a module or office installed meanwhile is found).
TServerModuleEntry* ModuleEntry(const TModuleKind& kind) {
    static std::map<std::string, TServerModuleEntry*> entries;
    static std::vector<std::unique_ptr<TSharedObject>> modules;
    const std::string key =
        QDir(ServerModuleFolder()).filePath(QLatin1String(kind.file)).toStdString();
    if (const auto found = entries.find(key); found != entries.end()) {
        return found->second;
    }
    const QString path = QString::fromStdString(key);
    if (!QFileInfo::exists(path)) {
        qCInfo(lcModules) << "no server module" << path;
        return nullptr;
    }
    QString error;
    if (kind.prepare != nullptr && !kind.prepare(&error)) {
        qCInfo(lcModules) << "server module" << path << "not loaded:" << error;
        return nullptr;
    }
    std::unique_ptr<TSharedObject> module = TSharedObject::Load(path, &error);
    if (!module) {
        qCWarning(lcModules) << "server module" << path << "not loaded:" << error;
        return nullptr;
    }
    auto* const entry = reinterpret_cast<TServerModuleEntry*>(module->Symbol(kServerModuleEntry));
    if (entry == nullptr) {
        qCWarning(lcModules) << "server module" << path << "is of another build";
        return nullptr;
    }
    modules.push_back(std::move(module));
    entries.emplace(key, entry);
    return entry;
}

void RegisterModuleServer(TServerRegistry& registry, const TModuleKind& kind) {
    registry.RegisterFactory(Word_2k::CLSID_WordApplication,
                             QString::fromLatin1(Word_2k::kWordProgId),
                             [&registry, &kind](IUnknown** server) -> HRESULT {
                                 TServerModuleEntry* const entry = ModuleEntry(kind);
                                 if (entry == nullptr) {
                                     return REGDB_E_CLASSNOTREG;
                                 }
                                 TServerFactory factory;
                                 if (const HRESULT hr = entry(&registry, &factory); FAILED(hr)) {
                                     return hr;
                                 }
                                 return factory(server);
                             });
}

}  // namespace

void RegisterDocumentServers(TServerRegistry& registry) {
    RegisterModuleServer(registry, kDocxModule);
    RegisterModuleServer(registry, kLibreOfficeModule);
}

QString ServerModuleFolder() {
    if (!SetFolder().isEmpty()) {
        return SetFolder();
    }
    const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
#ifdef VELMORA_BUILD_TREE
    // A program of the build tree takes the modules built beside it.
    if (program.startsWith(QStringLiteral(VELMORA_BUILD_TREE "/"))) {
        return QStringLiteral(VELMORA_BUILD_MODULE_FOLDER);
    }
#endif
    return QDir::cleanPath(QFileInfo(program).absolutePath() +
                           QStringLiteral("/../" VELMORA_MODULE_LIBDIR "/velmora"));
}

void SetServerModuleFolder(const QString& folder) {
    SetFolder() = folder;
}

}  // namespace velmora
