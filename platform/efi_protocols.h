// Protocol layouts used by the shell access layer and the start-up: the
// UEFI Shell 2.0 protocols, the EFI 1.x shell's environment and interface,
// the file system protocols and Unicode collation. Each interface sits next
// to its GUID; unused members keep their slot as `void *`.
#pragma once

#include "platform/efi.h"

// ---- File protocol ----------------------------------------------------------

constexpr UINT64 EFI_FILE_MODE_READ = 0x0000000000000001ULL;
constexpr UINT64 EFI_FILE_MODE_WRITE = 0x0000000000000002ULL;
constexpr UINT64 EFI_FILE_MODE_CREATE = 0x8000000000000000ULL;
constexpr UINT64 EFI_FILE_DIRECTORY = 0x0000000000000010ULL;

struct EFI_FILE_PROTOCOL;
typedef EFI_STATUS(EFIAPI *EFI_FILE_OPEN)(EFI_FILE_PROTOCOL *This, EFI_FILE_PROTOCOL **NewHandle,
                                          const CHAR16 *FileName, UINT64 OpenMode,
                                          UINT64 Attributes);
typedef EFI_STATUS(EFIAPI *EFI_FILE_CLOSE)(EFI_FILE_PROTOCOL *This);
typedef EFI_STATUS(EFIAPI *EFI_FILE_DELETE)(EFI_FILE_PROTOCOL *This);
typedef EFI_STATUS(EFIAPI *EFI_FILE_READ)(EFI_FILE_PROTOCOL *This, UINTN *BufferSize,
                                          void *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_FILE_WRITE)(EFI_FILE_PROTOCOL *This, UINTN *BufferSize,
                                           void *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_FILE_GET_POSITION)(EFI_FILE_PROTOCOL *This, UINT64 *Position);
typedef EFI_STATUS(EFIAPI *EFI_FILE_SET_POSITION)(EFI_FILE_PROTOCOL *This, UINT64 Position);
typedef EFI_STATUS(EFIAPI *EFI_FILE_GET_INFO)(EFI_FILE_PROTOCOL *This,
                                              const EFI_GUID *InformationType,
                                              UINTN *BufferSize, void *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_FILE_SET_INFO)(EFI_FILE_PROTOCOL *This,
                                              const EFI_GUID *InformationType,
                                              UINTN BufferSize, void *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_FILE_FLUSH)(EFI_FILE_PROTOCOL *This);

struct EFI_FILE_PROTOCOL {
  UINT64 Revision;
  EFI_FILE_OPEN Open;
  EFI_FILE_CLOSE Close;
  EFI_FILE_DELETE Delete;
  EFI_FILE_READ Read;
  EFI_FILE_WRITE Write;
  EFI_FILE_GET_POSITION GetPosition;
  EFI_FILE_SET_POSITION SetPosition;
  EFI_FILE_GET_INFO GetInfo;
  EFI_FILE_SET_INFO SetInfo;
  EFI_FILE_FLUSH Flush;
};
static_assert(offsetof(EFI_FILE_PROTOCOL, Open) == 8, "Open");
static_assert(offsetof(EFI_FILE_PROTOCOL, Close) == 16, "Close");
static_assert(offsetof(EFI_FILE_PROTOCOL, Delete) == 24, "Delete");
static_assert(offsetof(EFI_FILE_PROTOCOL, Read) == 32, "Read");
static_assert(offsetof(EFI_FILE_PROTOCOL, Write) == 40, "Write");
static_assert(offsetof(EFI_FILE_PROTOCOL, GetPosition) == 48, "GetPosition");
static_assert(offsetof(EFI_FILE_PROTOCOL, SetPosition) == 56, "SetPosition");
static_assert(offsetof(EFI_FILE_PROTOCOL, GetInfo) == 64, "GetInfo");
static_assert(offsetof(EFI_FILE_PROTOCOL, SetInfo) == 72, "SetInfo");
static_assert(offsetof(EFI_FILE_PROTOCOL, Flush) == 80, "Flush");

// Variable-length record: FileName runs on past the fixed part.
struct EFI_FILE_INFO {
  UINT64 Size;
  UINT64 FileSize;
  UINT64 PhysicalSize;
  EFI_TIME CreateTime;
  EFI_TIME LastAccessTime;
  EFI_TIME ModificationTime;
  UINT64 Attribute;
  CHAR16 FileName[1];
};
static_assert(offsetof(EFI_FILE_INFO, FileSize) == 8, "FileSize");
static_assert(offsetof(EFI_FILE_INFO, Attribute) == 72, "Attribute");
static_assert(offsetof(EFI_FILE_INFO, FileName) == 80, "FileName");

inline constexpr EFI_GUID EFI_FILE_INFO_ID = {
    0x09576E92, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

// Variable-length record: VolumeLabel runs on past the fixed part.
struct EFI_FILE_SYSTEM_INFO {
  UINT64 Size;
  BOOLEAN ReadOnly;
  UINT64 VolumeSize;
  UINT64 FreeSpace;
  UINT32 BlockSize;
  CHAR16 VolumeLabel[1];
};
static_assert(offsetof(EFI_FILE_SYSTEM_INFO, ReadOnly) == 8, "ReadOnly");
static_assert(offsetof(EFI_FILE_SYSTEM_INFO, VolumeLabel) == 36, "VolumeLabel");

constexpr EFI_GUID EFI_FILE_SYSTEM_INFO_ID = {
    0x09576E93, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL;
typedef EFI_STATUS(EFIAPI *EFI_SIMPLE_FILE_SYSTEM_OPEN_VOLUME)(
    EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *This, EFI_FILE_PROTOCOL **Root);

struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL {
  UINT64 Revision;
  EFI_SIMPLE_FILE_SYSTEM_OPEN_VOLUME OpenVolume;
};
static_assert(offsetof(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL, OpenVolume) == 8, "OpenVolume");

inline constexpr EFI_GUID EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID = {
    0x964E5B22, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

// ---- Loaded image --------------------------------------------------------------

// Only the device the image was loaded from is read.
struct EFI_LOADED_IMAGE_PROTOCOL {
  UINT32 Revision;
  EFI_HANDLE ParentHandle;
  EFI_SYSTEM_TABLE *SystemTable;
  EFI_HANDLE DeviceHandle;
};
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, DeviceHandle) == 24, "DeviceHandle");

constexpr EFI_GUID EFI_LOADED_IMAGE_PROTOCOL_GUID = {
    0x5B1B31A1, 0x9562, 0x11D2, {0x8E, 0x3F, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

// ---- Unicode collation --------------------------------------------------------

struct EFI_UNICODE_COLLATION_PROTOCOL;
typedef INTN(EFIAPI *EFI_UNICODE_COLLATION_STRICOLL)(EFI_UNICODE_COLLATION_PROTOCOL *This,
                                                     const CHAR16 *s1, const CHAR16 *s2);

struct EFI_UNICODE_COLLATION_PROTOCOL {
  EFI_UNICODE_COLLATION_STRICOLL StriColl;
  void *MetaiMatch;
  void *StrLwr;
  void *StrUpr;
  void *FatToStr;
  void *StrToFat;
  CHAR8 *SupportedLanguages;
};
static_assert(offsetof(EFI_UNICODE_COLLATION_PROTOCOL, StriColl) == 0, "StriColl");

// Version-2 identifier of the collation protocol.
inline constexpr EFI_GUID EFI_UNICODE_COLLATION_PROTOCOL_GUID = {
    0xA4C751FC, 0x23AE, 0x4C3E, {0x92, 0xE9, 0x49, 0x64, 0xCF, 0x63, 0xF3, 0x49}};

// ---- UEFI Shell 2.0 ------------------------------------------------------------

typedef void *SHELL_FILE_HANDLE;

typedef EFI_STATUS(EFIAPI *EFI_SHELL_EXECUTE)(EFI_HANDLE *ParentImageHandle,
                                              CHAR16 *CommandLine, CHAR16 **Environment,
                                              EFI_STATUS *StatusCode);
typedef EFI_FILE_INFO *(EFIAPI *EFI_SHELL_GET_FILE_INFO)(SHELL_FILE_HANDLE FileHandle);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_SET_FILE_INFO)(SHELL_FILE_HANDLE FileHandle,
                                                    const EFI_FILE_INFO *FileInfo);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_OPEN_FILE_BY_NAME)(const CHAR16 *FileName,
                                                        SHELL_FILE_HANDLE *FileHandle,
                                                        UINT64 OpenMode);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_CLOSE_FILE)(SHELL_FILE_HANDLE FileHandle);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_READ_FILE)(SHELL_FILE_HANDLE FileHandle, UINTN *ReadSize,
                                                void *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_WRITE_FILE)(SHELL_FILE_HANDLE FileHandle,
                                                 UINTN *BufferSize, void *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_DELETE_FILE)(SHELL_FILE_HANDLE FileHandle);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_GET_FILE_POSITION)(SHELL_FILE_HANDLE FileHandle,
                                                        UINT64 *Position);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_SET_FILE_POSITION)(SHELL_FILE_HANDLE FileHandle,
                                                        UINT64 Position);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_FLUSH_FILE)(SHELL_FILE_HANDLE FileHandle);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_GET_FILE_SIZE)(SHELL_FILE_HANDLE FileHandle, UINT64 *Size);
// The current directory is the shell's: GetCurDir's text belongs to it.
typedef const CHAR16 *(EFIAPI *EFI_SHELL_GET_CUR_DIR)(const CHAR16 *FileSystemMapping);
typedef EFI_STATUS(EFIAPI *EFI_SHELL_SET_CUR_DIR)(const CHAR16 *FileSystem, const CHAR16 *Dir);

struct EFI_SHELL_PROTOCOL {
  EFI_SHELL_EXECUTE Execute;
  void *GetEnv;
  void *SetEnv;
  void *GetAlias;
  void *SetAlias;
  void *GetHelpText;
  void *GetDevicePathFromMap;
  void *GetMapFromDevicePath;
  void *GetDevicePathFromFilePath;
  void *GetFilePathFromDevicePath;
  void *SetMap;
  EFI_SHELL_GET_CUR_DIR GetCurDir;
  EFI_SHELL_SET_CUR_DIR SetCurDir;
  void *OpenFileList;
  void *FreeFileList;
  void *RemoveDupInFileList;
  void *BatchIsActive;
  void *IsRootShell;
  void *EnablePageBreak;
  void *DisablePageBreak;
  void *GetPageBreak;
  void *GetDeviceName;
  EFI_SHELL_GET_FILE_INFO GetFileInfo;
  EFI_SHELL_SET_FILE_INFO SetFileInfo;
  EFI_SHELL_OPEN_FILE_BY_NAME OpenFileByName;
  EFI_SHELL_CLOSE_FILE CloseFile;
  void *CreateFile;
  EFI_SHELL_READ_FILE ReadFile;
  EFI_SHELL_WRITE_FILE WriteFile;
  EFI_SHELL_DELETE_FILE DeleteFile;
  void *DeleteFileByName;
  EFI_SHELL_GET_FILE_POSITION GetFilePosition;
  EFI_SHELL_SET_FILE_POSITION SetFilePosition;
  EFI_SHELL_FLUSH_FILE FlushFile;
  void *FindFiles;
  void *FindFilesInDir;
  EFI_SHELL_GET_FILE_SIZE GetFileSize;
  void *OpenRoot;
  void *OpenRootByHandle;
  EFI_EVENT ExecutionBreak;
  UINT32 MajorVersion;
  UINT32 MinorVersion;
};
static_assert(offsetof(EFI_SHELL_PROTOCOL, Execute) == 0, "Execute");
static_assert(offsetof(EFI_SHELL_PROTOCOL, GetCurDir) == 88, "GetCurDir");
static_assert(offsetof(EFI_SHELL_PROTOCOL, SetCurDir) == 96, "SetCurDir");
static_assert(offsetof(EFI_SHELL_PROTOCOL, GetFileInfo) == 176, "GetFileInfo");
static_assert(offsetof(EFI_SHELL_PROTOCOL, SetFileInfo) == 184, "SetFileInfo");
static_assert(offsetof(EFI_SHELL_PROTOCOL, OpenFileByName) == 192, "OpenFileByName");
static_assert(offsetof(EFI_SHELL_PROTOCOL, CloseFile) == 200, "CloseFile");
static_assert(offsetof(EFI_SHELL_PROTOCOL, ReadFile) == 216, "ReadFile");
static_assert(offsetof(EFI_SHELL_PROTOCOL, WriteFile) == 224, "WriteFile");
static_assert(offsetof(EFI_SHELL_PROTOCOL, DeleteFile) == 232, "DeleteFile");
static_assert(offsetof(EFI_SHELL_PROTOCOL, GetFilePosition) == 248, "GetFilePosition");
static_assert(offsetof(EFI_SHELL_PROTOCOL, SetFilePosition) == 256, "SetFilePosition");
static_assert(offsetof(EFI_SHELL_PROTOCOL, FlushFile) == 264, "FlushFile");
static_assert(offsetof(EFI_SHELL_PROTOCOL, GetFileSize) == 288, "GetFileSize");
static_assert(offsetof(EFI_SHELL_PROTOCOL, MajorVersion) == 320, "MajorVersion");

inline constexpr EFI_GUID EFI_SHELL_PROTOCOL_GUID = {
    0x6302D008, 0x7F9B, 0x4F30, {0x87, 0xAC, 0x60, 0xC9, 0xFE, 0xF5, 0xDA, 0x4E}};

struct EFI_SHELL_PARAMETERS_PROTOCOL {
  CHAR16 **Argv;
  UINTN Argc;
  SHELL_FILE_HANDLE StdIn;
  SHELL_FILE_HANDLE StdOut;
  SHELL_FILE_HANDLE StdErr;
};
static_assert(offsetof(EFI_SHELL_PARAMETERS_PROTOCOL, Argv) == 0, "Argv");
static_assert(offsetof(EFI_SHELL_PARAMETERS_PROTOCOL, Argc) == 8, "Argc");

inline constexpr EFI_GUID EFI_SHELL_PARAMETERS_PROTOCOL_GUID = {
    0x752F3136, 0x4E16, 0x4FDC, {0xA2, 0x2A, 0xE5, 0xF4, 0x68, 0x12, 0xF4, 0xCA}};

// ---- EFI 1.x shell ----------------------------------------------------------------

// The legacy environment is an outside layout; only three of its members are
// relied on: the execute entry first, the signature at byte 96 behind twelve
// 8-byte members, and the name-to-device-path entry at byte 304.
typedef EFI_STATUS(EFIAPI *LEGACY_SHELL_EXECUTE)(EFI_HANDLE ImageHandle, CHAR16 *CommandLine,
                                                 BOOLEAN Output);
typedef EFI_DEVICE_PATH_PROTOCOL *(EFIAPI *LEGACY_SHELL_NAME_TO_PATH)(CHAR16 *Name);

struct LEGACY_SHELL_ENVIRONMENT {
  LEGACY_SHELL_EXECUTE Execute;
  void *Members1To11[11];
  EFI_GUID Signature;
  void *Members14To37[24];
  LEGACY_SHELL_NAME_TO_PATH NameToPath;
};
static_assert(offsetof(LEGACY_SHELL_ENVIRONMENT, Execute) == 0, "legacy Execute");
static_assert(offsetof(LEGACY_SHELL_ENVIRONMENT, Signature) == 96, "legacy signature");
static_assert(offsetof(LEGACY_SHELL_ENVIRONMENT, NameToPath) == 304, "legacy NameToPath");

inline constexpr EFI_GUID LEGACY_SHELL_ENVIRONMENT_PROTOCOL = {
    0x47C7B221, 0xC42A, 0x11D2, {0x8E, 0x57, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
inline constexpr EFI_GUID LEGACY_SHELL_ENVIRONMENT_SIGNATURE_GUID = {
    0xD2C18636, 0x40E5, 0x4EB5, {0xA3, 0x1B, 0x36, 0x69, 0x5F, 0xD4, 0x2C, 0x87}};

// Installed by the EFI 1.x shell on each image it starts; the argument
// vector and count are its third and fourth 8-byte fields.
struct LEGACY_SHELL_INTERFACE {
  EFI_HANDLE ImageHandle;
  void *Info;
  CHAR16 **Argv;
  UINTN Argc;
  CHAR16 **RedirArgv;
  UINTN RedirArgc;
  void *StdIn;
  void *StdOut;
  void *StdErr;
};
static_assert(offsetof(LEGACY_SHELL_INTERFACE, Argv) == 16, "legacy Argv");
static_assert(offsetof(LEGACY_SHELL_INTERFACE, Argc) == 24, "legacy Argc");

inline constexpr EFI_GUID LEGACY_SHELL_INTERFACE_PROTOCOL = {
    0x47C7B223, 0xC42A, 0x11D2, {0x8E, 0x57, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
