// The shell access layer. The application never starts a script itself: it
// asks the shell that started it to run a command line, and it reads its
// configuration file through that shell. Two generations of shell are
// served: the UEFI Shell 2.0 (EFI_SHELL_PROTOCOL) and the EFI 1.x shell (its
// environment protocol plus the interface protocol it puts on every image it
// starts). ShellAccessInit finds which one is present, once, and the
// references found are kept for the whole run and given back by
// ShellAccessShutdown.
//
// Under the EFI 1.x shell there is no file API by handle, so the file
// entries fall back to EFI_FILE_PROTOCOL, and a name is opened by turning it
// into a device path and walking that path node by node from the volume root.
//
// Everything here relies only on gImageHandle and gBS, and on the layouts in
// platform/efi_protocols.h. Every firmware call is tested where it is made; a
// reference a lookup could not fill stays null.
#include "platform/shell_access.h"

#include "libc/stdlib.h"
#include "libc/string.h"
#include "platform/globals.h"

ShellReferences gShell = {};

// A firmware that reports success but hands back no interface is treated as
// not having it, so a set reference is always usable.
EFI_STATUS OpenInterface(EFI_HANDLE Handle, const EFI_GUID *Guid, void **Interface) {
  void *Found = nullptr;
  EFI_STATUS Status = gBS->OpenProtocol(Handle, Guid, &Found, gImageHandle, nullptr,
                                        EFI_OPEN_PROTOCOL_GET_PROTOCOL);
  if (EFI_ERROR(Status)) return Status;
  if (Found == nullptr) return EFI_NOT_FOUND;
  *Interface = Found;
  return EFI_SUCCESS;
}

namespace {

EFI_STATUS LocateInterface(const EFI_GUID *Guid, void **Interface) {
  void *Found = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(Guid, nullptr, &Found);
  if (EFI_ERROR(Status)) return Status;
  if (Found == nullptr) return EFI_NOT_FOUND;
  *Interface = Found;
  return EFI_SUCCESS;
}

// Whether Handle carries the EFI 1.x shell's environment: an interface
// under its GUID is the shell's only when it carries the signature. If so,
// that interface becomes the reference.
bool TakeLegacyEnvironment(EFI_HANDLE Handle) {
  void *Found = nullptr;
  if (EFI_ERROR(OpenInterface(Handle, &LEGACY_SHELL_ENVIRONMENT_PROTOCOL, &Found))) return false;
  LEGACY_SHELL_ENVIRONMENT *Environment = static_cast<LEGACY_SHELL_ENVIRONMENT *>(Found);
  if (!GuidEquals(&Environment->Signature, &LEGACY_SHELL_ENVIRONMENT_SIGNATURE_GUID)) return false;
  gShell.LegacyEnvironment = Environment;
  return true;
}

EFI_FILE_PROTOCOL *AsFile(SHELL_FILE_HANDLE Handle) {
  return static_cast<EFI_FILE_PROTOCOL *>(Handle);
}

// ---- File entries over EFI_FILE_PROTOCOL (EFI 1.x shell) -------------------

EFI_FILE_INFO *EFIAPI FallbackGetFileInfo(SHELL_FILE_HANDLE FileHandle) {
  EFI_FILE_PROTOCOL *File = AsFile(FileHandle);
  if (File == nullptr) return nullptr;

  UINTN Size = 0;
  EFI_STATUS Status = File->GetInfo(File, &EFI_FILE_INFO_ID, &Size, nullptr);
  if (Status != EFI_BUFFER_TOO_SMALL) return nullptr;

  // The block is never smaller than the fixed part of the record, so a
  // caller reading FileSize or Attribute stays inside it even if the file
  // system reports a short size.
  void *Block = AllocateZeroedPool(Size < sizeof(EFI_FILE_INFO) ? sizeof(EFI_FILE_INFO) : Size);
  if (Block == nullptr) return nullptr;

  Status = File->GetInfo(File, &EFI_FILE_INFO_ID, &Size, Block);
  if (EFI_ERROR(Status)) {
    libc::free(Block);
    return nullptr;
  }
  return static_cast<EFI_FILE_INFO *>(Block);
}

EFI_STATUS EFIAPI FallbackReadFile(SHELL_FILE_HANDLE FileHandle, UINTN *ReadSize, void *Buffer) {
  EFI_FILE_PROTOCOL *File = AsFile(FileHandle);
  if (File == nullptr) return EFI_INVALID_PARAMETER;
  return File->Read(File, ReadSize, Buffer);
}

EFI_STATUS EFIAPI FallbackWriteFile(SHELL_FILE_HANDLE FileHandle, UINTN *BufferSize, void *Buffer) {
  EFI_FILE_PROTOCOL *File = AsFile(FileHandle);
  if (File == nullptr) return EFI_INVALID_PARAMETER;
  return File->Write(File, BufferSize, Buffer);
}

EFI_STATUS EFIAPI FallbackCloseFile(SHELL_FILE_HANDLE FileHandle) {
  EFI_FILE_PROTOCOL *File = AsFile(FileHandle);
  if (File == nullptr) return EFI_INVALID_PARAMETER;
  return File->Close(File);
}

EFI_STATUS EFIAPI FallbackSetFilePosition(SHELL_FILE_HANDLE FileHandle, UINT64 Position) {
  EFI_FILE_PROTOCOL *File = AsFile(FileHandle);
  if (File == nullptr) return EFI_INVALID_PARAMETER;
  return File->SetPosition(File, Position);
}

EFI_STATUS EFIAPI FallbackFlushFile(SHELL_FILE_HANDLE FileHandle) {
  EFI_FILE_PROTOCOL *File = AsFile(FileHandle);
  if (File == nullptr) return EFI_INVALID_PARAMETER;
  return File->Flush(File);
}

EFI_STATUS EFIAPI FallbackGetFileSize(SHELL_FILE_HANDLE FileHandle, UINT64 *Size) {
  if (FileHandle == nullptr || Size == nullptr) return EFI_INVALID_PARAMETER;
  EFI_FILE_INFO *Info = FallbackGetFileInfo(FileHandle);
  if (Info == nullptr) return EFI_DEVICE_ERROR;
  *Size = Info->FileSize;
  libc::free(Info);
  return EFI_SUCCESS;
}

// The shell protocol's members for the entries, in the table's order, as
// pointer-sized slots: a load and a store of their own for each cost more
// than a loop over these bytes.
#define SHELL_SLOT(Member) (offsetof(EFI_SHELL_PROTOCOL, Member) / sizeof(void *))
const UINT8 SHELL_FILE_SLOTS[] = {SHELL_SLOT(GetFileInfo), SHELL_SLOT(ReadFile),
                                  SHELL_SLOT(WriteFile),   SHELL_SLOT(CloseFile),
                                  SHELL_SLOT(SetFilePosition), SHELL_SLOT(FlushFile),
                                  SHELL_SLOT(GetFileSize)};
#undef SHELL_SLOT
static_assert(sizeof(SHELL_FILE_SLOTS) * sizeof(void *) == sizeof(SHELL_FILE_FUNCTIONS),
              "one slot for each entry");

void FillFromShellProtocol(const EFI_SHELL_PROTOCOL *Shell) {
  // Copied as bytes, but between pointer-aligned slots, so each is one load
  // and one store.
  void *const *from = reinterpret_cast<void *const *>(Shell);
  void **to = reinterpret_cast<void **>(&gShell.Files);
  for (UINT8 slot : SHELL_FILE_SLOTS) __builtin_memcpy(to++, from + slot, sizeof(void *));
}

// Stored one by one rather than copied from a constant table: the table
// would hold an address for each for the loader to fix, and the image has none.
void FillFromFallbacks() {
  SHELL_FILE_FUNCTIONS &to = gShell.Files;
  to.GetFileInfo = FallbackGetFileInfo;
  to.ReadFile = FallbackReadFile;
  to.WriteFile = FallbackWriteFile;
  to.CloseFile = FallbackCloseFile;
  to.SetFilePosition = FallbackSetFilePosition;
  to.FlushFile = FallbackFlushFile;
  to.GetFileSize = FallbackGetFileSize;
}

// ---- Device path walking --------------------------------------------------

// Node lengths are 16-bit little-endian at byte 2 and nodes are packed, so
// the field may sit at any address: read it byte by byte.
UINT16 NodeLength(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  return static_cast<UINT16>(Node->Length[0] | (Node->Length[1] << 8));
}

// Whether the node is of the type and subtype given; both bytes compared at
// once.
bool NodeIs(const EFI_DEVICE_PATH_PROTOCOL *Node, UINT8 Type, UINT8 SubType) {
  return (Node->Type | (Node->SubType << 8)) == (Type | (SubType << 8));
}

// The name of a file-path node, ready for EFI_FILE_PROTOCOL.Open. It is used
// in place when it is aligned for CHAR16 and ends with a NUL inside the
// node; otherwise it is copied into a zeroed pool block one unit longer than
// the node's text, so Open can neither fault on alignment nor read past the
// node. *Copy receives the block to release, or null.
EFI_STATUS NodeFileName(const EFI_DEVICE_PATH_PROTOCOL *Node, UINT16 Length, const CHAR16 **Name,
                        CHAR16 **Copy) {
  const UINT8 *Text = reinterpret_cast<const UINT8 *>(Node) + sizeof(EFI_DEVICE_PATH_PROTOCOL);
  UINTN Units = (Length - sizeof(EFI_DEVICE_PATH_PROTOCOL)) / sizeof(CHAR16);
  *Copy = nullptr;

  // An unaligned name is copied whatever it holds, so only an aligned one
  // is looked at for its NUL, a unit at a time.
  if ((reinterpret_cast<UINTN>(Text) & 1) == 0) {
    const CHAR16 *InPlace = reinterpret_cast<const CHAR16 *>(Text);
    for (UINTN i = 0; i < Units; ++i) {
      if (InPlace[i] == 0) {
        *Name = InPlace;
        return EFI_SUCCESS;
      }
    }
  }

  void *Block = AllocateZeroedPool((Units + 1) * sizeof(CHAR16));
  if (Block == nullptr) return EFI_OUT_OF_RESOURCES;
  libc::memcpy(Block, Text, Units * sizeof(CHAR16));
  *Copy = static_cast<CHAR16 *>(Block);
  *Name = *Copy;
  return EFI_SUCCESS;
}

// One step of the walk: opens the node's name below Current. On success
// *Next is the newly opened handle; Current is left to the caller.
EFI_STATUS OpenPathNode(EFI_FILE_PROTOCOL *Current, const EFI_DEVICE_PATH_PROTOCOL *Node,
                        UINT64 OpenMode, UINT64 Attributes, EFI_FILE_PROTOCOL **Next) {
  if (!NodeIs(Node, MEDIA_DEVICE_PATH, MEDIA_FILEPATH_DP)) {
    return EFI_INVALID_PARAMETER;
  }
  // A length below the header would leave the walk on the same node for
  // ever (0) or inside the header (1 to 3).
  UINT16 Length = NodeLength(Node);
  if (Length < sizeof(EFI_DEVICE_PATH_PROTOCOL)) return EFI_INVALID_PARAMETER;

  const CHAR16 *Name = nullptr;
  CHAR16 *Copy = nullptr;
  EFI_STATUS Status = NodeFileName(Node, Length, &Name, &Copy);
  if (EFI_ERROR(Status)) return Status;

  EFI_FILE_PROTOCOL *Opened = nullptr;
  Status = Current->Open(Current, &Opened, Name, OpenMode, Attributes);
  libc::free(Copy);
  if (EFI_ERROR(Status)) return Status;
  if (Opened == nullptr) return EFI_DEVICE_ERROR;
  *Next = Opened;
  return EFI_SUCCESS;
}

}  // namespace

void ClearShellAccessReferences() {
  // One call clears them all: a store for each costs more.
  libc::memset(&gShell, 0, sizeof(gShell));
}

EFI_STATUS ShellAccessInit(EFI_HANDLE ImageHandle) {
  if (gShell.Protocol == nullptr) {
    // A UEFI Shell 2.0 may put its protocol on the image it starts, but
    // usually only publishes it system-wide: ask the image handle first,
    // then anywhere.
    // Each lookup writes Shell only when it finds the protocol.
    void *Shell = nullptr;
    if (EFI_ERROR(OpenInterface(ImageHandle, &EFI_SHELL_PROTOCOL_GUID, &Shell))) {
      (void)LocateInterface(&EFI_SHELL_PROTOCOL_GUID, &Shell);
    }
    gShell.Protocol = static_cast<EFI_SHELL_PROTOCOL *>(Shell);
  }

  // The legacy interfaces are looked up only when there is no 2.0 shell, so
  // a system carrying both always runs through the newer one.
  if (gShell.Protocol == nullptr) {
    if (EFI_ERROR(FindLegacyShellEnvironment(ImageHandle))) {
      gShell.LegacyEnvironment = nullptr;
      gShell.LegacyEnvironmentHandle = nullptr;
    }
    void *Interface = nullptr;
    (void)OpenInterface(ImageHandle, &LEGACY_SHELL_INTERFACE_PROTOCOL, &Interface);
    gShell.LegacyInterface = static_cast<LEGACY_SHELL_INTERFACE *>(Interface);

    if (gShell.LegacyEnvironment == nullptr || gShell.LegacyInterface == nullptr) {
      return EFI_NOT_FOUND;
    }
    FillFromFallbacks();
    return EFI_SUCCESS;
  }

  FillFromShellProtocol(gShell.Protocol);
  return EFI_SUCCESS;
}

EFI_STATUS FindLegacyShellEnvironment(EFI_HANDLE ImageHandle) {
  if (TakeLegacyEnvironment(ImageHandle)) return EFI_SUCCESS;

  // The environment need not sit on our own image handle: search every
  // handle that has one.
  // The firmware is asked for the size, then once more into a block of that
  // size: one call written once serves both asks.
  UINTN BufferSize = 0;
  EFI_HANDLE *Handles = nullptr;
  UINTN Allocated = 0;
  EFI_STATUS Status;
  for (;;) {
    Status = gBS->LocateHandle(ByProtocol, &LEGACY_SHELL_ENVIRONMENT_PROTOCOL, nullptr,
                               &BufferSize, Handles);
    if (Status != EFI_BUFFER_TOO_SMALL || Handles != nullptr) break;
    Handles = static_cast<EFI_HANDLE *>(AllocateZeroedPool(BufferSize));
    if (Handles == nullptr) return EFI_OUT_OF_RESOURCES;
    Allocated = BufferSize;
  }
  if (EFI_ERROR(Status)) {
    libc::free(Handles);
    return Status;
  }
  // Without a buffer there is nothing to walk, whatever the firmware said.
  if (Handles == nullptr) return EFI_NOT_FOUND;

  // Walk only what was both reported and allocated.
  UINTN Count = (BufferSize < Allocated ? BufferSize : Allocated) / sizeof(EFI_HANDLE);
  Status = EFI_NOT_FOUND;
  for (UINTN i = 0; i < Count; ++i) {
    if (TakeLegacyEnvironment(Handles[i])) {
      gShell.LegacyEnvironmentHandle = Handles[i];
      Status = EFI_SUCCESS;
      break;
    }
  }
  libc::free(Handles);
  return Status;
}

EFI_STATUS RunShellCommand(EFI_HANDLE *ParentImageHandle, const CHAR16 *CommandLine,
                           EFI_STATUS *CommandStatus) {
  if (gShell.Protocol != nullptr) {
    // The 2.0 shell takes the parent handle by reference and hands the
    // command's own status back through CommandStatus.
    return gShell.Protocol->Execute(ParentImageHandle, const_cast<CHAR16 *>(CommandLine), nullptr,
                                      CommandStatus);
  }
  if (gShell.LegacyEnvironment != nullptr) {
    // The legacy entry takes the handle by value; there is nothing to read it
    // from, or nothing to run, without these.
    if (ParentImageHandle == nullptr || CommandLine == nullptr) return EFI_INVALID_PARAMETER;
    EFI_STATUS Result =
        gShell.LegacyEnvironment->Execute(*ParentImageHandle, const_cast<CHAR16 *>(CommandLine), 0);
    // The EFI 1.x shell mixes "could not start" and "command failed" in one
    // result; both reach the caller only through CommandStatus.
    if (CommandStatus != nullptr) *CommandStatus = Result;
    return EFI_SUCCESS;
  }
  return EFI_UNSUPPORTED;
}

EFI_STATUS ShellAccessShutdown(EFI_HANDLE ImageHandle) {
  if (gShell.LegacyEnvironment != nullptr) {
    EFI_HANDLE Handle =
        gShell.LegacyEnvironmentHandle != nullptr ? gShell.LegacyEnvironmentHandle : ImageHandle;
    if (!EFI_ERROR(
            gBS->CloseProtocol(Handle, &LEGACY_SHELL_ENVIRONMENT_PROTOCOL, ImageHandle, nullptr))) {
      gShell.LegacyEnvironment = nullptr;
      gShell.LegacyEnvironmentHandle = nullptr;
    }
  }
  if (gShell.LegacyInterface != nullptr &&
      !EFI_ERROR(gBS->CloseProtocol(ImageHandle, &LEGACY_SHELL_INTERFACE_PROTOCOL, ImageHandle,
                                    nullptr))) {
    gShell.LegacyInterface = nullptr;
  }
  // A protocol found by LocateProtocol was never opened on the image handle,
  // so this close fails there and the reference is simply kept.
  if (gShell.Protocol != nullptr &&
      !EFI_ERROR(gBS->CloseProtocol(ImageHandle, &EFI_SHELL_PROTOCOL_GUID, ImageHandle, nullptr))) {
    gShell.Protocol = nullptr;
  }
  return EFI_SUCCESS;
}

EFI_STATUS OpenNamedFile(const CHAR16 *FileName, SHELL_FILE_HANDLE *FileHandle, UINT64 OpenMode,
                         UINT64 Attributes) {
  // Checked before any shell call, so no shell resource is taken for a
  // request that could not hand its handle back.
  if (FileName == nullptr || FileHandle == nullptr) return EFI_INVALID_PARAMETER;

  if (gShell.Protocol != nullptr) {
    EFI_STATUS Status = gShell.Protocol->OpenFileByName(FileName, FileHandle, OpenMode);
    if (EFI_ERROR(Status)) return Status;

    // Collation decides whether a name means the null device, which matters
    // only for creating opens; it is looked up once and kept for the run.
    if (gShell.Collation == nullptr) {
      void *Collation = nullptr;
      Status = LocateInterface(&EFI_UNICODE_COLLATION_PROTOCOL_GUID, &Collation);
      if (EFI_ERROR(Status)) {
        (void)gShell.Protocol->CloseFile(*FileHandle);  // nothing more to do if it fails
        *FileHandle = nullptr;
        return Status;
      }
      gShell.Collation = static_cast<EFI_UNICODE_COLLATION_PROTOCOL *>(Collation);
    }
    // For reading and writing an existing file the answer changes nothing.
    INTN IsNul = gShell.Collation->StriColl(gShell.Collation, FileName, u"NUL");
    INTN IsNull = gShell.Collation->StriColl(gShell.Collation, FileName, u"NULL");
    (void)IsNul;
    (void)IsNull;
    return EFI_SUCCESS;
  }

  // EFI 1.x shell: its files are reachable only through the fallback
  // entries, which exist only once the shell was fully found.
  if (gShell.LegacyEnvironment == nullptr || gShell.Files.CloseFile == nullptr) {
    return EFI_UNSUPPORTED;
  }
  EFI_DEVICE_PATH_PROTOCOL *Path =
      gShell.LegacyEnvironment->NameToPath(const_cast<CHAR16 *>(FileName));
  if (Path == nullptr) return EFI_DEVICE_ERROR;
  return OpenFileAlongDevicePath(&Path, FileHandle, OpenMode, Attributes);
}

EFI_STATUS OpenFileAlongDevicePath(EFI_DEVICE_PATH_PROTOCOL **FilePath,
                                   SHELL_FILE_HANDLE *FileHandle, UINT64 OpenMode,
                                   UINT64 Attributes) {
  if (FileHandle == nullptr) return EFI_INVALID_PARAMETER;
  *FileHandle = nullptr;
  if (FilePath == nullptr || *FilePath == nullptr) return EFI_INVALID_PARAMETER;

  EFI_HANDLE Device = nullptr;
  EFI_STATUS Status =
      gBS->LocateDevicePath(&EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID, FilePath, &Device);
  if (EFI_ERROR(Status)) return Status;
  if (*FilePath == nullptr) return EFI_INVALID_PARAMETER;
  void *FileSystem = nullptr;
  Status = OpenInterface(Device, &EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID, &FileSystem);
  if (EFI_ERROR(Status)) return Status;
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume =
      static_cast<EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *>(FileSystem);
  EFI_FILE_PROTOCOL *Current = nullptr;
  Status = Volume->OpenVolume(Volume, &Current);
  if (EFI_ERROR(Status)) return Status;
  if (Current == nullptr) return EFI_DEVICE_ERROR;

  // The remaining nodes name one directory level each, from the root down;
  // only the handle of the last level survives.
  for (;;) {
    const EFI_DEVICE_PATH_PROTOCOL *Node = *FilePath;
    if (NodeIs(Node, END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE)) {
      *FileHandle = Current;
      return EFI_SUCCESS;
    }
    EFI_FILE_PROTOCOL *Next = nullptr;
    Status = OpenPathNode(Current, Node, OpenMode, Attributes, &Next);
    // Close reports nothing worth acting on: the handle is gone either way.
    (void)Current->Close(Current);
    if (EFI_ERROR(Status)) return Status;
    Current = Next;
    *FilePath = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(reinterpret_cast<UINT8 *>(*FilePath) +
                                                             NodeLength(Node));
  }
}
