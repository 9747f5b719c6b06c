#pragma once
// File systems: extensions that serve file names of a scheme of their own ("tunedex://..."),
// registered at the file-system service with AddExtension.

#include "sdk/api/OrvoAPI.Objects.h"

// A command the host offers on a file name. The host first asks CanHandle (S_OK: yes, E_FAIL:
// not this name) and runs Handle only for a name accepted.
struct IOrvoFileSystemCustomFileCommand : IUnknown {
    virtual HRESULT ORVO_CALL CanHandle(IOrvoString* fileName) = 0;
    virtual HRESULT ORVO_CALL Handle(IOrvoString* fileName) = 0;
};

// Opening a file's folder; for a name that is no file, such as a link the user follows, opening
// what the name stands for.
struct IOrvoFileSystemCommandOpenFileFolder : IOrvoFileSystemCustomFileCommand {
    static constexpr TGUID IID = OrvoTag("AFSCmdFileFldr");
};

// Properties of a file-system extension.
constexpr int32_t ORVO_FSP_SCHEME = 1; // text: the scheme served, without ":" ("tunedex")
constexpr int32_t ORVO_FSP_FLAGS = 2;  // integer: 1 the names are not files but commands of the plug-in

// A file-system extension is a property list with no operations of its own: an object answers
// this identifier with its IOrvoPropertyList table (one table serves both), so the host uses
// what it gets as an IOrvoPropertyList.
struct IOrvoExtensionFileSystem : IOrvoPropertyList {
    static constexpr TGUID IID = OrvoTag("ORVOExtFS");
};

// The file-system service, where file systems are registered.
struct IOrvoServiceFileSystem : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOSrvFS");

    // Opens a name as a person following a link to it: the registered file system of the name's
    // scheme that accepts it handles it (its IOrvoFileSystemCommandOpenFileFolder), and its result
    // is answered. E_FAIL when none accepts the name.
    virtual HRESULT ORVO_CALL OpenLink(IOrvoString* fileName) = 0;
};

// ---- file information

// Properties of the host's file-info list that a file-info provider fills for a name.
constexpr int32_t ORVO_FIP_BITRATE = 7;      // integer, kbit/s
constexpr int32_t ORVO_FIP_DESCRIPTION = 10; // text
constexpr int32_t ORVO_FIP_FILENAME = 18;    // text
constexpr int32_t ORVO_FIP_GENRE = 20;       // text
constexpr int32_t ORVO_FIP_TITLE = 25;       // text: the station's or track's name
constexpr int32_t ORVO_FIP_URL = 30;         // text: the web page behind the file

// An extension that tells the host about file names it knows, registered at the file-manager
// service. It may also offer IOrvoFileSystemCommandOpenFileFolder for the same names.
struct IOrvoExtensionFileInfoProvider : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOExtFileInfo");

    // Fills `info` for the name and answers S_OK; E_FAIL, with `info` untouched, for a name the
    // provider does not know.
    virtual HRESULT ORVO_CALL DescribeFile(IOrvoString* fileName, IOrvoPropertyList* info) = 0;
};

// The file-manager service, where file-info providers are registered.
struct IOrvoServiceFileManager : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOSrvFileMan");

    // A new file-info list (ORVO_FIP_*) for the name, filled by the first registered provider
    // that knows it; E_FAIL when none does.
    virtual HRESULT ORVO_CALL DescribeFile(IOrvoString* fileName, IOrvoPropertyList** info) = 0;
    // Opens the folder of the name, or what stands for it: the first registered provider whose
    // open-folder command accepts the name handles it, and its result is answered. E_FAIL when
    // none accepts it.
    virtual HRESULT ORVO_CALL OpenFileFolder(IOrvoString* fileName) = 0;
};
