// The engine kernel: the object tree by path, objects made by class name, the file server's
// path assigns, and the engine log. Declared and implemented here, in the kernel library
// (pelora_kernel), which registers no engine class and needs neither Tcl nor the network:
// the launcher's libraries and plconfig link it without the runtime in engine/.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class nKernelServer;

// Result of a script call on an object (`<path>.<method> args`).
enum class nCallStatus { Ok, Error, NoMethod };

// Base of every engine object: a named node in the kernel's object tree.
class nRoot {
public:
    nRoot();
    virtual ~nRoot();
    nRoot(const nRoot&) = delete;
    nRoot& operator=(const nRoot&) = delete;

    const std::string& GetName() const { return name_; }
    const std::string& GetClass() const { return class_; }
    std::string GetFullName() const; // absolute path, "/" for the root
    nRoot* GetParent() const { return parent_; }
    nKernelServer* GetKernel() const { return kernel_; }
    nRoot* Find(const std::string& childName) const;
    std::vector<nRoot*> GetChildren() const;

    // Unlinks the object from the tree and frees it with its whole subtree.
    void Release();

    // A script call `<path>.<method> args...`. NoMethod when the object has no such method;
    // Error with the message in `result`; Ok with the result text in `result`.
    virtual nCallStatus Call(const std::string& method, const std::vector<std::string>& args,
                             std::string& result);

private:
    friend class nKernelServer;
    std::string name_;
    std::string class_;
    nRoot* parent_ = nullptr;
    nKernelServer* kernel_ = nullptr;
    std::vector<std::unique_ptr<nRoot>> children_;
};

using nClassFactory = std::function<nRoot*()>;

// Path assigns ("home:", "users:", ...): names for folders.
class nFileServer2 {
public:
    // Later paths under "name:" resolve into `path` (a folder; a separator is added).
    bool DefineAssign(const char* name, const char* path);
    std::string GetAssign(const std::string& name) const; // "" when not defined
    // Resolves a leading "name:" (more than one letter, so never a drive letter); other
    // paths are given back unchanged.
    std::string ManglePath(const std::string& path) const;

private:
    std::map<std::string, std::string> assigns_;
};

class nKernelServer {
public:
    // Defines the assigns "home:", "users:", "worlds:", "avatars:" and "scripts:" from the
    // home folder (PELORA_HOME, else the per-user default seeded from the installed home).
    nKernelServer();
    ~nKernelServer();
    nKernelServer(const nKernelServer&) = delete;
    nKernelServer& operator=(const nKernelServer&) = delete;

    // The object at `path` when one is there, else a new object of the class made there
    // (missing parents are made as plain nodes); null when the class is unknown or making
    // it fails. Relative paths resolve against the selected object.
    nRoot* New(const char* className, const char* path, const char* rootClass = "nroot");
    nRoot* Lookup(const char* path);
    void Log(const char* path); // the engine log goes to that file

    nRoot* GetRoot() const { return root_.get(); }
    nRoot* GetCwd() const { return cwd_; }
    void SetCwd(nRoot* object); // "sel"; null selects the root

    // Classes of this kernel. Process-wide registrations (tests' fakes) win over them.
    void AddClass(const std::string& name, nClassFactory factory);
    static void RegisterClass(const std::string& name, nClassFactory factory);
    static void UnregisterAllClasses();

    nFileServer2* fileServer;

    // Called by nRoot::Release and by destruction of objects.
    void ForgetObject(nRoot* object);

private:
    std::unique_ptr<nRoot> root_;
    nRoot* cwd_ = nullptr;
    std::map<std::string, nClassFactory> classes_;
    std::unique_ptr<nFileServer2> fileServerOwned_;
};

// The kernel being constructed or alive (the most recent one); used by engine objects that
// need the kernel without being given it.
nKernelServer* nKernelServerInstance();

// Resolves the assign of a printf-style path ("users:%s"). A bare assign gives a folder path
// that ends with a separator.
std::string pathate(nKernelServer* kernel, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// A line (or part of one) in the engine log, home:n_runlog.txt once the kernel's Log is set.
void n_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Reports a failed condition with its source path and line, and does not return.
[[noreturn]] void n_barf(const char* expression, const char* file, int line);

// Test support: every log line also goes to the hook; n_barf calls the handler first (a
// handler that throws keeps the process alive).
using nLogHook = std::function<void(const std::string& text)>;
void n_setloghook(nLogHook hook);
using nBarfHandler = std::function<void(const char* expression, const char* file, int line)>;
void n_setbarfhandler(nBarfHandler handler);
