#include "plan/manifest_reader.h"

#include <memory>
#include <utility>

using platform::Format;
using platform::XmlNode;
using platform::XmlNodeList;

const char kPromptTemplate[] = "　　您是否确定要删除%s及其所有组件？";
const char kCaptionTemplate[] = "%s卸载向导";

void ReadAttribute(XmlNode& node, const char* name, std::string& text) {
    text.clear();
    node.AttributeText(name, &text);
}

namespace {

void ReadShortcuts(platform::Platform& os, XmlNode& module, RemovalPlan& plan) {
    std::unique_ptr<XmlNodeList> shortcuts = module.SelectNodes("ShortCut");
    if (!shortcuts) return;
    bool ok = false;
    const long count = shortcuts->Length(&ok);
    if (!ok) return;
    std::string root, group, link;
    for (long j = 0; j < count; ++j) {
        std::unique_ptr<XmlNode> shortcut = shortcuts->Item(j);
        if (!shortcut) continue;
        ReadAttribute(*shortcut, "root", root);
        ReadAttribute(*shortcut, "group", group);
        ReadAttribute(*shortcut, "link", link);
        try {
            AddShortcut(os, root, group, link, plan);
        } catch (...) {
            // One shortcut that cannot be composed costs only that shortcut.
        }
    }
}

void ReadModule(platform::Platform& os, const std::string& programFolder, XmlNode& module,
                RemovalPlan& plan) {
    ReadShortcuts(os, module, plan);
    std::string uninstall;
    ReadAttribute(module, "uninstall", uninstall);
    if (uninstall.empty()) return;
    std::string param, dir;
    ReadAttribute(module, "uninstallparam", param);
    ReadAttribute(module, "dir", dir);
    plan.moduleCommands.push_back(ModuleCommand(os, programFolder, uninstall, param, dir));
}

}  // namespace

void ReadManifest(platform::Platform& os, const RunContext& context, RemovalPlan& plan, ManifestTexts& texts) {
    // Declared first so that every DOM object below is released before it goes.
    std::unique_ptr<platform::XmlSession> session = os.OpenXml();
    if (!session) return;

    plan.productName = context.product;
    plan.productKey = ProductKey(plan.productName);
    platform::XmlDocument& document = session->Document();
    // The full path: a path the system is given as \\?\... is taken as it is spelled, so a .\Foo.xml is resolved first.
    const std::string& manifest = context.manifestFull;
    if (!document.Load(manifest)) {
        plan.manifestMissing = context.argument.empty() || !os.IsFile(manifest);
        return;
    }
    plan.manifestLoaded = true;
    std::unique_ptr<XmlNode> top = document.DocumentElement();
    if (!top) return;

    if (std::unique_ptr<XmlNode> setup = top->SelectSingleNode("Setup")) {
        std::string name;
        ReadAttribute(*setup, "DisplayName", name);
        ManifestTexts found;
        found.prompt = Format(kPromptTemplate, {&name});
        found.caption = Format(kCaptionTemplate, {&name});
        found.displayName = std::move(name);
        found.present = true;
        texts = std::move(found);
    }

    if (std::unique_ptr<XmlNodeList> modules = top->SelectNodes("Module")) {
        bool ok = false;
        const long count = modules->Length(&ok);
        for (long i = 0; ok && i < count; ++i) {
            if (std::unique_ptr<XmlNode> module = modules->Item(i)) ReadModule(os, context.programFolder, *module, plan);
        }
    }
}
