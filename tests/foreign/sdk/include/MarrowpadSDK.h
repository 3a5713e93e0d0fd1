// Marrowpad plug-in SDK: the classes of libmarrowpad that a plug-in may use.
//
// This is a second editor library of this interface, written apart from the stand-in in host/:
// the same exported names and signatures, other data, other sizes, other bases. A plug-in that
// depends on nothing but the names loads in both.
//
// The plug-in classes (CPlugin and its kinds) keep the layout every plug-in is built against:
// the order of the virtual operations and the members' types and order are a binary contract.
// Everything else here is this library's own.
#pragma once

#include <wx/arrstr.h>
#include <wx/event.h>
#include <wx/stc/stc.h>
#include <wx/string.h>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#define MPSDK_EXPORT __attribute__((visibility("default")))

class wxFrame;
class wxMenuBar;
class wxToolBar;
class wxWindow;
class CPluginManager;

// ---------------------------------------------------------------------------------------------
// Plug-ins.

enum EPluginType : std::int32_t {
    MP_PLUGIN_UNKNOWN = 0,
    MP_PLUGIN_TOOL = 1,
    MP_PLUGIN_TOOLBAR = 2,
    MP_PLUGIN_PANEL = 3,
    MP_PLUGIN_MAINCLIENT = 4,
};

class MPSDK_EXPORT CPluginInfo {
public:
    CPluginInfo();
    CPluginInfo(const CPluginInfo& other);
    CPluginInfo& operator=(const CPluginInfo& other);
    ~CPluginInfo();

    wxString pluginName;
    wxString caption;
    wxString version;
    wxString summary;
    wxString authors;
    wxString emails;
    wxString webSite;
    wxString licence;
};

class MPSDK_EXPORT CDockInfo {
public:
    CDockInfo& operator=(const CDockInfo& other);

    std::int32_t values[5];
};

class MPSDK_EXPORT CPlugin : public wxEvtHandler {
    friend class CPluginManager;

public:
    CPlugin();
    virtual ~CPlugin() override;

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
    std::int32_t hostData;
};

class MPSDK_EXPORT CToolPlugin : public CPlugin {
public:
    CToolPlugin();
    ~CToolPlugin() override;

    virtual void KindHook() = 0;

private:
    void BuildMenu(wxMenuBar* menuBar) override;
    bool BuildToolBar(wxToolBar* toolBar) override;
};

class MPSDK_EXPORT CToolBarPlugin : public CPlugin {
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

class MPSDK_EXPORT CPanelPlugin : public CPlugin {
public:
    CPanelPlugin();
    ~CPanelPlugin() override;

    virtual void KindHook() = 0;
    virtual CDockInfo& GetPanelInfo();
    virtual void PanelHook() = 0;

private:
    CDockInfo panelInfo;
};

class MPSDK_EXPORT CMainClientPlugin : public CPlugin {
public:
    CMainClientPlugin();
    ~CMainClientPlugin() override;
};

extern "C" {
typedef wxString (*PluginNameFunc)();
typedef CPlugin* (*CreatePluginFunc)();
}

// ---------------------------------------------------------------------------------------------
// Events.

wxDECLARE_EXPORTED_EVENT(MPSDK_EXPORT, wxEVT_EDITOR_COMPLETEBEGIN, wxCommandEvent);
wxDECLARE_EXPORTED_EVENT(MPSDK_EXPORT, wxEVT_EDITOR_COMPLETEEND, wxCommandEvent);
wxDECLARE_EXPORTED_EVENT(MPSDK_EXPORT, wxEVT_EDITOR_OPEN, wxCommandEvent);

// ---------------------------------------------------------------------------------------------
// Names.

// Anything the editor keeps under a name.
class MPSDK_EXPORT CNamedObject {
public:
    explicit CNamedObject(const wxString& name);
    virtual ~CNamedObject();

    const wxString& GetObjectName() const { return objectName; }
    std::uint64_t GetSerial() const { return serial; }

protected:
    wxString objectName;
    std::uint64_t serial;
};

// "PluginsPath" and "ExecPath": attribute 0 is the folder, without a trailing separator.
class MPSDK_EXPORT CNameItem : public CNamedObject {
public:
    explicit CNameItem(const wxString& name);
    ~CNameItem() override;

    wxString GetAttribute(int index);
    void SetAttribute(int index, const wxString& value);
    int GetAttributeCount() const { return static_cast<int>(attributes.size()); }
    std::uint32_t GetReads() const { return reads; }

private:
    std::uint32_t reads;
    wxArrayString attributes;
    wxString comment;
};

class MPSDK_EXPORT CNameService {
public:
    static CNameService* Get();

    // Made on first use: never null.
    CNameItem* GetNameItem(wxString name);
    size_t GetItemCount() const { return items.size(); }

private:
    CNameService();
    ~CNameService();

    char tag[40];
    std::map<wxString, std::unique_ptr<CNameItem>> items;
    std::uint64_t lookups;
};

// ---------------------------------------------------------------------------------------------
// Settings.

// Typed keys ("/Coilhatch/Script0/name") in an XML file: every key is an element below the root
// element <config>, its value the element's text.
class MPSDK_EXPORT CConfigManagement {
public:
    explicit CConfigManagement(const wxString& path);
    virtual ~CConfigManagement();
    // Reads the file again; false when it could not be read (the store is then empty).
    virtual bool Reload();

    CConfigManagement(const CConfigManagement&) = delete;
    CConfigManagement& operator=(const CConfigManagement&) = delete;

    int ReadInt(const wxString& key, int defaultValue);
    bool ReadBool(const wxString& key, bool defaultValue);
    wxString Read(const wxString& key, const wxString& defaultValue);

    void Write(const wxString& key, int value);
    void Write(const wxString& key, bool value);
    void Write(const wxString& key, const wxString& value, bool flag);

    void Clear();
    void Save();

    const wxString& GetFilePath() const { return filePath; }
    size_t GetKeyCount() const { return values.size(); }
    bool IsModified() const { return modified; }
    // The files every store of this process saved, in order.
    static std::vector<wxString> SavedFiles();

private:
    // Stops the program when this is not a live store of this library's.
    void CheckAlive() const;
    static wxString KeyOf(const wxString& key);

    std::uint32_t magic;
    char rootName[64];
    bool modified;
    std::int32_t writes;
    std::map<wxString, wxString> values;
    char lastError[256];
    wxString filePath;
    std::vector<wxString> flagged; // keys written with the flag set
};

// ---------------------------------------------------------------------------------------------
// The application and its editors.

class MPSDK_EXPORT CAppManagement {
public:
    static CAppManagement* Get();

    wxFrame* GetAppWindow() const;
    void SetAppWindow(wxFrame* frame);
    const wxString& GetAppName() const { return appName; }

private:
    CAppManagement();

    wxString appName;
    std::int64_t startedAt;
    wxFrame* appWindow;
    std::vector<wxString> recentFiles;
};

class MPSDK_EXPORT CSyntaxEditor : public wxStyledTextCtrl {
public:
    CSyntaxEditor(wxWindow* parent, const wxString& documentPath);
    ~CSyntaxEditor() override;

    const wxString& GetDocumentPath() const { return documentPath; }
    int GetDocumentId() const { return documentId; }

private:
    friend class CEditorManagement;

    int documentId;
    wxString documentPath;
    std::uint64_t savedRevision;
};

class MPSDK_EXPORT CEditorManagement {
public:
    static CEditorManagement* Get();

    // Null when no editor is open.
    CSyntaxEditor* GetCurrentEditor();
    void SetCurrentEditor(CSyntaxEditor* editor);
    size_t GetEditorCount() const { return editors.size(); }

private:
    friend class CSyntaxEditor;
    CEditorManagement();
    void Add(CSyntaxEditor* editor);
    void Remove(CSyntaxEditor* editor);

    double zoom;
    std::vector<CSyntaxEditor*> editors;
    int current;
    int nextId;
};
