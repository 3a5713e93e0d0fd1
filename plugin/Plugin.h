// The editor's plug-in interface: the classes through which Marrowpad finds, creates, drives and
// destroys a plug-in, and the two entry points every plug-in module exports.
//
// CPlugin's constructor and destructor live in the editor's library (libmarrowpad); everything
// else here is compiled into each plug-in module as well, which exports it under these names.
//
// The layout of these classes is a binary contract: the editor and every built plug-in agree on
// the order of the virtual operations and on the members' types and order. Any change to either
// (adding, removing or reordering a virtual operation or a member, changing a member's type)
// breaks every plug-in built before it: bump MP_PLUGIN_INTERFACE_VERSION and rebuild them all.
// Adding a non-virtual helper or a new class leaves built plug-ins working.
//
// Built against the editor's own SDK (MARROWPAD_SDK_HEADER names its header), the SDK's
// declarations of these classes are the ones used; the entry points' types and MP_INTERFACE
// stay ours.
#pragma once

#include <wx/event.h>
#include <wx/string.h>

#include <cstdint>

#ifdef MARROWPAD_SDK_HEADER
#include MARROWPAD_SDK_HEADER
#endif

#ifndef MP_INTERFACE
#define MP_INTERFACE __attribute__((visibility("default")))
#endif

#ifndef MARROWPAD_SDK_HEADER

// The version of the layout below; see the note at the top of this file.
constexpr int MP_PLUGIN_INTERFACE_VERSION = 1;

class wxMenuBar;
class wxToolBar;
class CPluginManager;

// Kinds of plug-in. A class that derives from CPlugin directly keeps what CPlugin's
// constructor stored (MP_PLUGIN_UNKNOWN).
enum EPluginType : std::int32_t {
    MP_PLUGIN_UNKNOWN = 0,
    MP_PLUGIN_TOOL = 1,
    MP_PLUGIN_TOOLBAR = 2,
    MP_PLUGIN_PANEL = 3,
    MP_PLUGIN_MAINCLIENT = 4,
};

// What a plug-in tells the editor about itself.
class MP_INTERFACE CPluginInfo {
public:
    CPluginInfo();
    CPluginInfo(const CPluginInfo& other);
    CPluginInfo& operator=(const CPluginInfo& other);
    ~CPluginInfo();

    wxString pluginName; // the same text that PluginName() returns
    wxString caption;    // the name shown to the user
    wxString version;
    wxString summary;
    wxString authors; // separated by ", "
    wxString emails;  // separated by ", "
    wxString webSite;
    wxString licence;
};

// Where a tool bar or panel plug-in docks. The values are the editor's; a plug-in only copies them.
class MP_INTERFACE CDockInfo {
public:
    CDockInfo& operator=(const CDockInfo& other);

    std::int32_t values[5];
};

class MP_INTERFACE CPlugin : public wxEvtHandler {
    // The editor drives the protected and private operations.
    friend class CPluginManager;

public:
    CPlugin();                   // in the editor's library
    virtual ~CPlugin() override; // in the editor's library

    virtual EPluginType GetType() const;
    virtual const CPluginInfo* GetInfo() const;
    virtual void HostHook() = 0;

private:
    virtual void BuildMenu(wxMenuBar* menuBar) = 0;
    virtual bool BuildToolBar(wxToolBar* toolBar) = 0;

protected:
    virtual void OnAttach();
    virtual void OnRelease();

    EPluginType type;
    CPluginInfo info;
    std::int32_t hostData; // the editor's own; a plug-in never touches it
};

class MP_INTERFACE CToolPlugin : public CPlugin {
public:
    CToolPlugin();
    ~CToolPlugin() override;

    virtual void KindHook() = 0;

private:
    void BuildMenu(wxMenuBar* menuBar) override;
    bool BuildToolBar(wxToolBar* toolBar) override;
};

class MP_INTERFACE CToolBarPlugin : public CPlugin {
public:
    CToolBarPlugin();
    ~CToolBarPlugin() override;

    virtual void KindHook() = 0;
    virtual CDockInfo& GetDockInfo();

private:
    void BuildMenu(wxMenuBar* menuBar) override;
    bool BuildToolBar(wxToolBar* toolBar) override;

    CDockInfo dockInfo;
};

class MP_INTERFACE CPanelPlugin : public CPlugin {
public:
    CPanelPlugin();
    ~CPanelPlugin() override;

    virtual void KindHook() = 0;
    virtual CDockInfo& GetPanelInfo();
    virtual void PanelHook() = 0;

private:
    CDockInfo panelInfo;
};

class MP_INTERFACE CMainClientPlugin : public CPlugin {
public:
    CMainClientPlugin();
    ~CMainClientPlugin() override;
};

#endif // MARROWPAD_SDK_HEADER

// The two entry points, looked up by these plain names.
extern "C" {
typedef wxString (*PluginNameFunc)();
typedef CPlugin* (*CreatePluginFunc)();
}
