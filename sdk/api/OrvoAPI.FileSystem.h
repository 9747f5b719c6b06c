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
