// The object kernel: the tree of named engine objects, creation by class name, selection of
// the current object, and the home folder's assigns. Part of the kernel library (it moved
// here from engine/); it registers only "nroot", the runtime's classes come from
// NewRuntimeKernel.
#include "engine/kernel.h"

#include "engine/home_folder.h"

#include <algorithm>
#include <sstream>

namespace {

std::map<std::string, nClassFactory>& ProcessClasses() {
    static std::map<std::string, nClassFactory> classes;
    return classes;
}

nKernelServer* g_kernel = nullptr;

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(path);
    while (std::getline(in, part, '/')) {
        if (!part.empty())
            parts.push_back(part);
    }
    return parts;
}

// A plain node of the tree (class "nroot"): made for missing parents of a new object.
class nPlainNode : public nRoot {};

} // namespace

// ---- nRoot ----

nRoot::nRoot() = default;

nRoot::~nRoot() {
    // Children go first, deepest first, while their parent still exists.
    while (!children_.empty())
        children_.pop_back();
    if (kernel_)
        kernel_->ForgetObject(this);
}

std::string nRoot::GetFullName() const {
    if (!parent_)
        return "/";
    std::string parentName = parent_->GetFullName();
    if (parentName != "/")
        parentName += '/';
    return parentName + name_;
}

nRoot* nRoot::Find(const std::string& childName) const {
    for (const auto& child : children_) {
        if (child->name_ == childName)
            return child.get();
    }
    return nullptr;
}

std::vector<nRoot*> nRoot::GetChildren() const {
    std::vector<nRoot*> out;
    for (const auto& child : children_)
        out.push_back(child.get());
    return out;
}

void nRoot::Release() {
    if (!parent_) {
        // The root belongs to its kernel and goes with it.
        if (kernel_ && kernel_->GetRoot() == this)
            return;
        delete this; // an object outside any tree
        return;
    }
    auto& siblings = parent_->children_;
    auto it = std::find_if(siblings.begin(), siblings.end(),
                           [this](const std::unique_ptr<nRoot>& p) { return p.get() == this; });
    if (it != siblings.end()) {
        std::unique_ptr<nRoot> self = std::move(*it);
        siblings.erase(it);
        self.reset();
    }
}

nCallStatus nRoot::Call(const std::string& method, const std::vector<std::string>& args,
                        std::string& result) {
    if (method == "getname" && args.empty()) {
        result = name_;
        return nCallStatus::Ok;
    }
    if (method == "getclass" && args.empty()) {
        result = class_;
        return nCallStatus::Ok;
    }
    if (method == "getfullname" && args.empty()) {
        result = GetFullName();
        return nCallStatus::Ok;
    }
    if (method == "getchildren" && args.empty()) {
        result.clear();
        for (const auto& child : children_) {
            if (!result.empty())
                result += ' ';
            result += child->GetFullName();
        }
        return nCallStatus::Ok;
    }
    return nCallStatus::NoMethod;
}

// ---- nKernelServer ----

nKernelServer::nKernelServer() : fileServer(nullptr) {
    fileServerOwned_ = std::make_unique<nFileServer2>();
    fileServer = fileServerOwned_.get();
    root_ = std::make_unique<nPlainNode>();
    root_->class_ = "nroot";
    root_->kernel_ = this;
    cwd_ = root_.get();
    g_kernel = this;

    std::string home = ResolveHomeFolder();
    fileServer->DefineAssign("home", home.c_str());
    fileServer->DefineAssign("users", (home + "/users").c_str());
    fileServer->DefineAssign("worlds", (home + "/worlds").c_str());
    fileServer->DefineAssign("avatars", (home + "/avatars").c_str());
    fileServer->DefineAssign("scripts", (home + "/scripts").c_str());

    AddClass("nroot", [] { return new nPlainNode; });
}

nKernelServer::~nKernelServer() {
    // Objects are released children first; they may still look the kernel up meanwhile, and
    // may release other objects, so the list is read afresh each time.
    while (!root_->children_.empty())
        root_->children_.back()->Release();
    root_->kernel_ = nullptr;
    root_.reset();
    if (g_kernel == this)
        g_kernel = nullptr;
}

void nKernelServer::AddClass(const std::string& name, nClassFactory factory) {
    classes_[name] = std::move(factory);
}

void nKernelServer::RegisterClass(const std::string& name, nClassFactory factory) {
    ProcessClasses()[name] = std::move(factory);
}

void nKernelServer::UnregisterAllClasses() {
    ProcessClasses().clear();
}

void nKernelServer::SetCwd(nRoot* object) {
    cwd_ = object ? object : root_.get();
}

void nKernelServer::ForgetObject(nRoot* object) {
    if (cwd_ == object)
        cwd_ = root_.get();
}

nRoot* nKernelServer::Lookup(const char* path) {
    if (!path || !*path)
        return nullptr;
    nRoot* node = (path[0] == '/') ? root_.get() : cwd_;
    for (const auto& part : SplitPath(path)) {
        if (part == ".")
            continue;
        if (part == "..") {
            node = node->GetParent() ? node->GetParent() : node;
            continue;
        }
        node = node->Find(part);
        if (!node)
            return nullptr;
    }
    return node;
}

nRoot* nKernelServer::New(const char* className, const char* path, const char* /*rootClass*/) {
    if (!className || !path || !*path)
        return nullptr;
    if (nRoot* existing = Lookup(path))
        return existing;

    nClassFactory factory;
    if (auto it = ProcessClasses().find(className); it != ProcessClasses().end())
        factory = it->second;
    else if (auto own = classes_.find(className); own != classes_.end())
        factory = own->second;
    else {
        n_printf("ERROR: unknown class '%s' for object '%s'\n", className, path);
        return nullptr;
    }

    nRoot* parent = (path[0] == '/') ? root_.get() : cwd_;
    auto parts = SplitPath(path);
    if (parts.empty() || parts.back() == "." || parts.back() == "..")
        return nullptr;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        const std::string& part = parts[i];
        if (part == ".")
            continue;
        if (part == "..") {
            parent = parent->GetParent() ? parent->GetParent() : parent;
            continue;
        }
        nRoot* next = parent->Find(part);
        if (!next) {
            auto node = std::make_unique<nPlainNode>();
            node->name_ = part;
            node->class_ = "nroot";
            node->parent_ = parent;
            node->kernel_ = this;
            next = node.get();
            parent->children_.push_back(std::move(node));
        }
        parent = next;
    }

    nRoot* made = nullptr;
    try {
        made = factory();
    } catch (...) {
        made = nullptr;
    }
    if (!made) {
        n_printf("ERROR: could not make object '%s' of class '%s'\n", path, className);
        return nullptr;
    }
    made->name_ = parts.back();
    made->class_ = className;
    made->parent_ = parent;
    made->kernel_ = this;
    parent->children_.push_back(std::unique_ptr<nRoot>(made));
    return made;
}

nKernelServer* nKernelServerInstance() {
    return g_kernel;
}
