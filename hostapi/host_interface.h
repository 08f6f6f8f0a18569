// The host <-> filter plug-in binary interface (plug-in kind "8BFM") as this
// module sees it: records, callback tables, suites and constants, declared by
// us from the published layout facts. Every offset and size is pinned for x86
// and x64 by static_asserts in host_interface_layout.h, included at the end.
//
// Packing matters: only FilterRecord and BigDocumentStruct are packed to 4
// bytes (on both x86 and x64); FilterCaseInfo and PITerminology are byte
// packed resource records; everything else keeps natural alignment. Getting
// this wrong moves bufferProcs from 224 to 240 on x64 and crashes real hosts.
//
// The native Linux build uses the x64 layout unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Basic types
// ---------------------------------------------------------------------------
typedef int16_t int16;
typedef int32_t int32;
typedef int64_t int64;
typedef uint8_t uint8;
typedef uint16_t uint16;
typedef uint32_t uint32;
typedef uint64_t uint64;
typedef double real64;

typedef unsigned char Boolean;  // one byte on Windows
typedef int16 OSErr;
typedef uint32 OSType;
typedef uint32 PIType;
typedef int32 Fixed;            // 16.16 fixed point
typedef char* Ptr;
typedef char** Handle;
typedef unsigned char Str255[256];  // length byte first
typedef unsigned char FilterColor[4];
typedef int32 SPErr;
typedef int32 SPBoolean;        // BOOL-sized on Windows

typedef struct PSBuffer* BufferID;
typedef Handle PIDescriptorHandle;
typedef struct PIOpaqueReadDescriptor* PIReadDescriptor;
typedef struct PIOpaqueWriteDescriptor* PIWriteDescriptor;
typedef struct PIOpaqueActionDescriptor* PIActionDescriptor;
typedef struct PIOpaqueActionList* PIActionList;
typedef struct PIOpaqueActionReference* PIActionReference;
typedef struct ASZByteRun* ASZString;
typedef uint32 DescriptorKeyID;
typedef uint32 DescriptorTypeID;
typedef uint32 DescriptorClassID;
typedef uint32 DescriptorEnumTypeID;
typedef uint32 DescriptorEnumID;
typedef uint32 DescriptorUnitID;

// Suites and records this module never looks inside.
struct ResourceProcs;
struct ImageServicesProcs;
struct PropertyProcs;
struct ChannelPortProcs;
struct ReadImageDocumentDesc;
struct ColorServicesInfo;

// A four-character code with its first character in the most significant
// byte, the value MSVC and GCC give the multi-character literal 'abcd'.
constexpr uint32 FourCharCode(const char (&code)[5]) {
  return (uint32(uint8(code[0])) << 24) | (uint32(uint8(code[1])) << 16) |
         (uint32(uint8(code[2])) << 8) | uint32(uint8(code[3]));
}

// ---------------------------------------------------------------------------
// Geometry (natural alignment; v = row comes first)
// ---------------------------------------------------------------------------
struct Point {
  int16 v;
  int16 h;
};

struct Rect {
  int16 top;
  int16 left;
  int16 bottom;
  int16 right;
};

struct VPoint {
  int32 v;
  int32 h;
};

struct VRect {
  int32 top;
  int32 left;
  int32 bottom;
  int32 right;
};

struct PSRGBColor {
  uint16 red;
  uint16 green;
  uint16 blue;
};

struct PlugInMonitor {
  Fixed gamma;  // 0 means the record is invalid
  Fixed redX;
  Fixed redY;
  Fixed greenX;
  Fixed greenY;
  Fixed blueX;
  Fixed blueY;
  Fixed whiteX;
  Fixed whiteY;
  Fixed ambient;
};

struct PlatformData {
  intptr_t hwnd;  // the host's main window
};

// ---------------------------------------------------------------------------
// Pixel maps for displayPixels (natural alignment)
// ---------------------------------------------------------------------------
struct PSPixelMask {
  PSPixelMask* next;
  void* maskData;
  int32 rowBytes;
  int32 colBytes;
  int32 maskDescription;
};

struct PSPixelOverlay {
  PSPixelOverlay* next;
  void* data;
  int32 rowBytes;
  int32 colBytes;
  uint8 r;
  uint8 g;
  uint8 b;
  uint8 opacity;
  int32 overlayAlgorithm;
};

struct PSPixelMap {
  int32 version;
  VRect bounds;
  int32 imageMode;
  int32 rowBytes;
  int32 colBytes;
  int32 planeBytes;
  void* baseAddr;
  PSPixelMask* mat;
  PSPixelMask* masks;
  int32 maskPhaseRow;
  int32 maskPhaseCol;
  // version 2
  PSPixelOverlay* pixelOverlays;
  uint32 colorManagementOptions;
  // version 3
  int16 depth;
};

// ---------------------------------------------------------------------------
// Callbacks of the filter record (default C convention: cdecl on x86)
// ---------------------------------------------------------------------------
extern "C" {
typedef Boolean (*TestAbortProc)(void);
typedef void (*ProgressProc)(int32 done, int32 total);
typedef void (*HostProc)(int16 selector, intptr_t* data);
typedef void (*ProcessEventProc)(void* event);
typedef OSErr (*DisplayPixelsProc)(const PSPixelMap* source, const VRect* srcRect, int32 dstRow,
                                   int32 dstCol, void* platformContext);
typedef OSErr (*AdvanceStateProc)(void);
typedef OSErr (*ColorServicesProc)(ColorServicesInfo* info);
typedef OSErr (*GetPropertyProc)(PIType signature, PIType key, int32 index,
                                 intptr_t* simpleProperty, Handle* complexProperty);

// Handle suite
typedef Handle (*NewPIHandleProc)(int32 size);
typedef void (*DisposePIHandleProc)(Handle h);
typedef int32 (*GetPIHandleSizeProc)(Handle h);
typedef OSErr (*SetPIHandleSizeProc)(Handle h, int32 newSize);
typedef Ptr (*LockPIHandleProc)(Handle h, Boolean moveHigh);
typedef void (*UnlockPIHandleProc)(Handle h);
typedef void (*RecoverSpaceProc)(int32 size);
typedef void (*DisposeRegularHandlePIHandleProc)(Handle h);

// Buffer suite
typedef OSErr (*AllocateBufferProc)(int32 size, BufferID* bufferID);
typedef Ptr (*LockBufferProc)(BufferID bufferID, Boolean moveHigh);
typedef void (*UnlockBufferProc)(BufferID bufferID);
typedef void (*FreeBufferProc)(BufferID bufferID);
typedef int32 (*BufferSpaceProc)(void);
typedef OSErr (*ReserveBufferSpaceProc)(int32 size);
typedef OSErr (*AllocateBuffer64Proc)(int64 size, BufferID* bufferID);
typedef int64 (*BufferSpace64Proc)(void);

// Scripting: reading and writing the played and recorded descriptor
typedef PIReadDescriptor (*OpenReadDescriptorProc)(PIDescriptorHandle, DescriptorKeyID*);
typedef OSErr (*CloseReadDescriptorProc)(PIReadDescriptor);
typedef Boolean (*GetKeyProc)(PIReadDescriptor, DescriptorKeyID* key, DescriptorTypeID* type,
                              int32* flags);
typedef OSErr (*GetIntegerProc)(PIReadDescriptor, int32*);
typedef OSErr (*GetFloatProc)(PIReadDescriptor, real64*);
typedef OSErr (*GetUnitFloatProc)(PIReadDescriptor, DescriptorUnitID*, real64*);
typedef OSErr (*GetBooleanProc)(PIReadDescriptor, Boolean*);
typedef OSErr (*GetTextProc)(PIReadDescriptor, Handle*);
typedef OSErr (*GetAliasProc)(PIReadDescriptor, Handle*);
typedef OSErr (*GetEnumeratedProc)(PIReadDescriptor, DescriptorEnumID*);
typedef OSErr (*GetClassProc)(PIReadDescriptor, DescriptorTypeID*);
typedef OSErr (*GetSimpleReferenceProc)(PIReadDescriptor, void*);
typedef OSErr (*GetObjectProc)(PIReadDescriptor, DescriptorTypeID*, PIDescriptorHandle*);
typedef OSErr (*GetCountProc)(PIReadDescriptor, uint32*);
typedef OSErr (*GetStringProc)(PIReadDescriptor, Str255*);
typedef OSErr (*GetPinnedIntegerProc)(PIReadDescriptor, int32 min, int32 max, int32*);
typedef OSErr (*GetPinnedFloatProc)(PIReadDescriptor, const real64* min, const real64* max,
                                    real64*);
typedef OSErr (*GetPinnedUnitFloatProc)(PIReadDescriptor, const real64* min, const real64* max,
                                        DescriptorUnitID*, real64*);

typedef PIWriteDescriptor (*OpenWriteDescriptorProc)(void);
typedef OSErr (*CloseWriteDescriptorProc)(PIWriteDescriptor, PIDescriptorHandle*);
typedef OSErr (*PutIntegerProc)(PIWriteDescriptor, DescriptorKeyID, int32);
typedef OSErr (*PutFloatProc)(PIWriteDescriptor, DescriptorKeyID, const real64*);
typedef OSErr (*PutUnitFloatProc)(PIWriteDescriptor, DescriptorKeyID, DescriptorUnitID,
                                  const real64*);
typedef OSErr (*PutBooleanProc)(PIWriteDescriptor, DescriptorKeyID, Boolean);
typedef OSErr (*PutTextProc)(PIWriteDescriptor, DescriptorKeyID, Handle);
typedef OSErr (*PutAliasProc)(PIWriteDescriptor, DescriptorKeyID, Handle);
typedef OSErr (*PutEnumeratedProc)(PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID,
                                   DescriptorEnumID);
typedef OSErr (*PutClassProc)(PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID);
typedef OSErr (*PutSimpleReferenceProc)(PIWriteDescriptor, DescriptorKeyID, const void*);
typedef OSErr (*PutObjectProc)(PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID,
                               PIDescriptorHandle);
typedef OSErr (*PutCountProc)(PIWriteDescriptor, DescriptorKeyID, uint32);
typedef OSErr (*PutStringProc)(PIWriteDescriptor, DescriptorKeyID, const unsigned char*);
typedef OSErr (*PutScopedClassProc)(PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID);
typedef OSErr (*PutScopedObjectProc)(PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID,
                                     PIDescriptorHandle);

// PICA basic suite
typedef SPErr (*SPAcquireSuiteProc)(const char* name, int32 version, const void** suite);
typedef SPErr (*SPReleaseSuiteProc)(const char* name, int32 version);
typedef SPBoolean (*SPIsEqualProc)(const char* token1, const char* token2);
typedef SPErr (*SPAllocateBlockProc)(size_t size, void** block);
typedef SPErr (*SPFreeBlockProc)(void* block);
typedef SPErr (*SPReallocateBlockProc)(void* block, size_t newSize, void** newblock);
typedef SPErr (*SPUndefinedProc)(void);
}

// ---------------------------------------------------------------------------
// Callback tables (natural alignment)
// ---------------------------------------------------------------------------
struct HandleProcs {
  int16 handleProcsVersion;
  int16 numHandleProcs;
  NewPIHandleProc newProc;
  DisposePIHandleProc disposeProc;
  GetPIHandleSizeProc getSizeProc;
  SetPIHandleSizeProc setSizeProc;
  LockPIHandleProc lockProc;
  UnlockPIHandleProc unlockProc;
  RecoverSpaceProc recoverSpaceProc;
  DisposeRegularHandlePIHandleProc disposeRegularHandleProc;
};

struct BufferProcs {
  int16 bufferProcsVersion;
  int16 numBufferProcs;
  AllocateBufferProc allocateProc;
  LockBufferProc lockProc;
  UnlockBufferProc unlockProc;
  FreeBufferProc freeProc;
  BufferSpaceProc spaceProc;
  ReserveBufferSpaceProc reserveProc;
  AllocateBuffer64Proc allocateProc64;
  BufferSpace64Proc spaceProc64;
};

struct ReadDescriptorProcs {
  int16 readDescriptorProcsVersion;
  int16 numReadDescriptorProcs;
  OpenReadDescriptorProc openReadDescriptorProc;
  CloseReadDescriptorProc closeReadDescriptorProc;
  GetKeyProc getKeyProc;
  GetIntegerProc getIntegerProc;
  GetFloatProc getFloatProc;
  GetUnitFloatProc getUnitFloatProc;
  GetBooleanProc getBooleanProc;
  GetTextProc getTextProc;
  GetAliasProc getAliasProc;
  GetEnumeratedProc getEnumeratedProc;
  GetClassProc getClassProc;
  GetSimpleReferenceProc getSimpleReferenceProc;
  GetObjectProc getObjectProc;
  GetCountProc getCountProc;
  GetStringProc getStringProc;
  GetPinnedIntegerProc getPinnedIntegerProc;
  GetPinnedFloatProc getPinnedFloatProc;
  GetPinnedUnitFloatProc getPinnedUnitFloatProc;
};

struct WriteDescriptorProcs {
  int16 writeDescriptorProcsVersion;
  int16 numWriteDescriptorProcs;
  OpenWriteDescriptorProc openWriteDescriptorProc;
  CloseWriteDescriptorProc closeWriteDescriptorProc;
  PutIntegerProc putIntegerProc;
  PutFloatProc putFloatProc;
  PutUnitFloatProc putUnitFloatProc;
  PutBooleanProc putBooleanProc;
  PutTextProc putTextProc;
  PutAliasProc putAliasProc;
  PutEnumeratedProc putEnumeratedProc;
  PutClassProc putClassProc;
  PutSimpleReferenceProc putSimpleReferenceProc;
  PutObjectProc putObjectProc;
  PutCountProc putCountProc;
  PutStringProc putStringProc;
  PutScopedClassProc putScopedClassProc;
  PutScopedObjectProc putScopedObjectProc;
};

struct PIDescriptorParameters {
  int16 descriptorParametersVersion;
  int16 playInfo;
  int16 recordInfo;
  PIDescriptorHandle descriptor;
  WriteDescriptorProcs* writeDescriptorProcs;
  ReadDescriptorProcs* readDescriptorProcs;
};

struct SPBasicSuite {
  SPAcquireSuiteProc AcquireSuite;
  SPReleaseSuiteProc ReleaseSuite;
  SPIsEqualProc IsEqual;
  SPAllocateBlockProc AllocateBlock;
  SPFreeBlockProc FreeBlock;
  SPReallocateBlockProc ReallocateBlock;
  SPUndefinedProc Undefined;
};

// Action descriptor suite, version 2: exactly these 46 members. The suite
// functions return OSErr; a host that returns a full int still fills AX.
struct PSActionDescriptorProcs {
  OSErr (*Make)(PIActionDescriptor* descriptor);
  OSErr (*Free)(PIActionDescriptor d);
  OSErr (*GetType)(PIActionDescriptor d, DescriptorKeyID key, DescriptorTypeID* type);
  OSErr (*GetKey)(PIActionDescriptor d, uint32 index, DescriptorKeyID* key);
  OSErr (*HasKey)(PIActionDescriptor d, DescriptorKeyID key, Boolean* hasKey);
  OSErr (*GetCount)(PIActionDescriptor d, uint32* count);
  OSErr (*IsEqual)(PIActionDescriptor d, PIActionDescriptor other, Boolean* isEqual);
  OSErr (*Erase)(PIActionDescriptor d, DescriptorKeyID key);
  OSErr (*Clear)(PIActionDescriptor d);
  OSErr (*PutInteger)(PIActionDescriptor d, DescriptorKeyID key, int32 value);
  OSErr (*PutFloat)(PIActionDescriptor d, DescriptorKeyID key, real64 value);
  OSErr (*PutUnitFloat)(PIActionDescriptor d, DescriptorKeyID key, DescriptorUnitID unit,
                        real64 value);
  OSErr (*PutString)(PIActionDescriptor d, DescriptorKeyID key, const char* cstrValue);
  OSErr (*PutBoolean)(PIActionDescriptor d, DescriptorKeyID key, Boolean value);
  OSErr (*PutList)(PIActionDescriptor d, DescriptorKeyID key, PIActionList value);
  OSErr (*PutObject)(PIActionDescriptor d, DescriptorKeyID key, DescriptorClassID type,
                     PIActionDescriptor value);
  OSErr (*PutGlobalObject)(PIActionDescriptor d, DescriptorKeyID key, DescriptorClassID type,
                           PIActionDescriptor value);
  OSErr (*PutEnumerated)(PIActionDescriptor d, DescriptorKeyID key, DescriptorEnumTypeID type,
                         DescriptorEnumID value);
  OSErr (*PutReference)(PIActionDescriptor d, DescriptorKeyID key, PIActionReference value);
  OSErr (*PutClass)(PIActionDescriptor d, DescriptorKeyID key, DescriptorClassID value);
  OSErr (*PutGlobalClass)(PIActionDescriptor d, DescriptorKeyID key, DescriptorClassID value);
  OSErr (*PutAlias)(PIActionDescriptor d, DescriptorKeyID key, Handle value);
  OSErr (*GetInteger)(PIActionDescriptor d, DescriptorKeyID key, int32* value);
  OSErr (*GetFloat)(PIActionDescriptor d, DescriptorKeyID key, real64* value);
  OSErr (*GetUnitFloat)(PIActionDescriptor d, DescriptorKeyID key, DescriptorUnitID* unit,
                        real64* value);
  OSErr (*GetStringLength)(PIActionDescriptor d, DescriptorKeyID key, uint32* stringLength);
  OSErr (*GetString)(PIActionDescriptor d, DescriptorKeyID key, char* cstrValue,
                     uint32 maxLength);
  OSErr (*GetBoolean)(PIActionDescriptor d, DescriptorKeyID key, Boolean* value);
  OSErr (*GetList)(PIActionDescriptor d, DescriptorKeyID key, PIActionList* value);
  OSErr (*GetObject)(PIActionDescriptor d, DescriptorKeyID key, DescriptorClassID* type,
                     PIActionDescriptor* value);
  OSErr (*GetGlobalObject)(PIActionDescriptor d, DescriptorKeyID key, DescriptorClassID* type,
                           PIActionDescriptor* value);
  OSErr (*GetEnumerated)(PIActionDescriptor d, DescriptorKeyID key, DescriptorEnumTypeID* type,
                         DescriptorEnumID* value);
  OSErr (*GetReference)(PIActionDescriptor d, DescriptorKeyID key, PIActionReference* value);
  OSErr (*GetClass)(PIActionDescriptor d, DescriptorKeyID key, DescriptorClassID* value);
  OSErr (*GetGlobalClass)(PIActionDescriptor d, DescriptorKeyID key, DescriptorClassID* value);
  OSErr (*GetAlias)(PIActionDescriptor d, DescriptorKeyID key, Handle* value);
  OSErr (*HasKeys)(PIActionDescriptor d, DescriptorKeyID* requiredKeys, Boolean* hasKeys);
  OSErr (*PutIntegers)(PIActionDescriptor d, DescriptorKeyID key, uint32 count, int32* values);
  OSErr (*GetIntegers)(PIActionDescriptor d, DescriptorKeyID key, uint32 count, int32* values);
  OSErr (*AsHandle)(PIActionDescriptor d, PIDescriptorHandle* value);
  OSErr (*HandleToDescriptor)(PIDescriptorHandle value, PIActionDescriptor* descriptor);
  OSErr (*PutZString)(PIActionDescriptor d, DescriptorKeyID key, ASZString zstring);
  OSErr (*GetZString)(PIActionDescriptor d, DescriptorKeyID key, ASZString* zstring);
  OSErr (*PutData)(PIActionDescriptor d, DescriptorKeyID key, int32 length, void* value);
  OSErr (*GetDataLength)(PIActionDescriptor d, DescriptorKeyID key, int32* value);
  OSErr (*GetData)(PIActionDescriptor d, DescriptorKeyID key, void* value);
};

// Descriptor registry suite, version 1.
struct PSDescriptorRegistryProcs {
  OSErr (*Register)(const char* key, PIActionDescriptor descriptor, Boolean isPersistent);
  OSErr (*Erase)(const char* key);
  OSErr (*Get)(const char* key, PIActionDescriptor* descriptor);
};

struct AboutRecord {
  void* platformData;
  SPBasicSuite* sSPBasic;
  void* plugInRef;
  char reserved[244];
};

// ---------------------------------------------------------------------------
// The filter record and the big-document extension: packed to 4 bytes on
// every target, so x64 pointers in it sit on 4-byte boundaries only.
// ---------------------------------------------------------------------------
#pragma pack(push, 4)

struct BigDocumentStruct {
  int32 PluginUsing32BitCoordinates;  // set non-zero by the plug-in
  VPoint imageSize32;
  VRect filterRect32;
  VRect inRect32;
  VRect outRect32;
  VRect maskRect32;
  VPoint floatCoord32;
  VPoint wholeSize32;
};

struct FilterRecord {
  int32 serialNumber;
  TestAbortProc abortProc;
  ProgressProc progressProc;
  Handle parameters;
  Point imageSize;
  int16 planes;
  Rect filterRect;
  PSRGBColor background;
  PSRGBColor foreground;
  int32 maxSpace;
  int32 bufferSpace;
  Rect inRect;
  int16 inLoPlane;
  int16 inHiPlane;
  Rect outRect;
  int16 outLoPlane;
  int16 outHiPlane;
  void* inData;
  int32 inRowBytes;
  void* outData;
  int32 outRowBytes;
  Boolean isFloating;
  Boolean haveMask;
  Boolean autoMask;
  Rect maskRect;
  void* maskData;
  int32 maskRowBytes;
  FilterColor backColor;
  FilterColor foreColor;
  OSType hostSig;
  HostProc hostProc;
  int16 imageMode;
  Fixed imageHRes;
  Fixed imageVRes;
  Point floatCoord;
  Point wholeSize;
  PlugInMonitor monitor;
  void* platformData;  // points to a PlatformData, never the window itself
  BufferProcs* bufferProcs;
  ResourceProcs* resourceProcs;
  ProcessEventProc processEvent;
  DisplayPixelsProc displayPixels;
  HandleProcs* handleProcs;
  // 3.0
  Boolean supportsDummyChannels;
  Boolean supportsAlternateLayouts;
  int16 wantLayout;
  int16 filterCase;
  int16 dummyPlaneValue;
  void* premiereHook;
  AdvanceStateProc advanceState;
  Boolean supportsAbsolute;
  Boolean wantsAbsolute;
  GetPropertyProc getPropertyObsolete;
  Boolean cannotUndo;
  Boolean supportsPadding;
  int16 inputPadding;
  int16 outputPadding;
  int16 maskPadding;
  char samplingSupport;
  char reservedByte;
  Fixed inputRate;
  Fixed maskRate;
  ColorServicesProc colorServices;
  int16 inLayerPlanes;
  int16 inTransparencyMask;
  int16 inLayerMasks;
  int16 inInvertedLayerMasks;
  int16 inNonLayerPlanes;
  int16 outLayerPlanes;
  int16 outTransparencyMask;
  int16 outLayerMasks;
  int16 outInvertedLayerMasks;
  int16 outNonLayerPlanes;
  int16 absLayerPlanes;
  int16 absTransparencyMask;
  int16 absLayerMasks;
  int16 absInvertedLayerMasks;
  int16 absNonLayerPlanes;
  int16 inPreDummyPlanes;
  int16 inPostDummyPlanes;
  int16 outPreDummyPlanes;
  int16 outPostDummyPlanes;
  int32 inColumnBytes;
  int32 inPlaneBytes;
  int32 outColumnBytes;
  int32 outPlaneBytes;
  // 3.0.4
  ImageServicesProcs* imageServicesProcs;
  PropertyProcs* propertyProcs;
  int16 inTileHeight;
  int16 inTileWidth;
  Point inTileOrigin;
  int16 absTileHeight;
  int16 absTileWidth;
  Point absTileOrigin;
  int16 outTileHeight;
  int16 outTileWidth;
  Point outTileOrigin;
  int16 maskTileHeight;
  int16 maskTileWidth;
  Point maskTileOrigin;
  // 4.0
  PIDescriptorParameters* descriptorParameters;
  Str255* errorString;
  ChannelPortProcs* channelPortProcs;
  ReadImageDocumentDesc* documentInfo;
  // 5.0
  SPBasicSuite* sSPBasic;
  void* plugInRef;
  int32 depth;
  // 6.0
  Handle iCCprofileData;
  int32 iCCprofileSize;
  int32 canUseICCProfiles;
  // 7.0
  int32 hasImageScrap;
  // 8.0
  BigDocumentStruct* bigDocumentData;
  // 10.0
  PIDescriptorParameters* input3DScene;
  PIDescriptorParameters* output3DScene;
  Boolean createNewLayer;
  // 13.0
  Handle iCCWorkingProfileData;
  int32 iCCWorkingProfileSize;
  // 18.0
  int64 bufferSpace64;
  int64 maxSpace64;
  // 2024
  Boolean allowOverrangeColors;
  char reserved[45];
};

#pragma pack(pop)

// ---------------------------------------------------------------------------
// Resource records: byte-packed where the resource format is.
// ---------------------------------------------------------------------------
#pragma pack(push, 1)
struct FilterCaseInfo {
  char inputHandling;
  char outputHandling;
  char flags1;
  char flags2;
};

struct PITerminology {
  int32 version;
  OSType classID;
  OSType eventID;
  int16 terminologyID;
  char scopeString[1];  // variable length, zero-terminated
};
#pragma pack(pop)

struct PIProperty {
  PIType vendorID;
  PIType propertyKey;
  int32 propertyID;
  int32 propertyLength;
  char propertyData[1];  // variable length
};

struct PIPropertyList {
  int32 version;
  int32 count;
  PIProperty properties[1];  // variable length
};

// ---------------------------------------------------------------------------
// Constants
// ---------------------------------------------------------------------------
constexpr int16 filterSelectorAbout = 0;
constexpr int16 filterSelectorParameters = 1;
constexpr int16 filterSelectorPrepare = 2;
constexpr int16 filterSelectorStart = 3;
constexpr int16 filterSelectorContinue = 4;
constexpr int16 filterSelectorFinish = 5;

constexpr OSErr noErr = 0;
constexpr OSErr readErr = -19;
constexpr OSErr writErr = -20;
constexpr OSErr paramErr = -50;
constexpr OSErr memFullErr = -108;
constexpr OSErr nilHandleErr = -109;
constexpr OSErr memWZErr = -111;
constexpr OSErr userCanceledErr = -128;
constexpr OSErr errMissingParameter = -1715;
constexpr OSErr filterBadParameters = -30100;
constexpr OSErr filterBadMode = -30101;
constexpr OSErr errPlugInHostInsufficient = -30900;

constexpr int16 plugInModeBitmap = 0;
constexpr int16 plugInModeGrayScale = 1;
constexpr int16 plugInModeIndexedColor = 2;
constexpr int16 plugInModeRGBColor = 3;
constexpr int16 plugInModeCMYKColor = 4;
constexpr int16 plugInModeHSLColor = 5;
constexpr int16 plugInModeHSBColor = 6;
constexpr int16 plugInModeMultichannel = 7;
constexpr int16 plugInModeDuotone = 8;
constexpr int16 plugInModeLabColor = 9;
constexpr int16 plugInModeGray16 = 10;
constexpr int16 plugInModeRGB48 = 11;
constexpr int16 plugInModeLab48 = 12;
constexpr int16 plugInModeCMYK64 = 13;
constexpr int16 plugInModeDeepMultichannel = 14;
constexpr int16 plugInModeDuotone16 = 15;
constexpr int16 plugInModeRGB96 = 16;
constexpr int16 plugInModeGray32 = 17;

// PIDescriptorParameters.recordInfo and playInfo
constexpr int16 plugInDialogOptional = 0;
constexpr int16 plugInDialogRequired = 1;
constexpr int16 plugInDialogNone = 2;
constexpr int16 plugInDialogDontDisplay = 0;
constexpr int16 plugInDialogDisplay = 1;
constexpr int16 plugInDialogSilent = 2;

// GetKeyProc flags
constexpr int32 actionSimpleParameter = 0;
constexpr int32 actionEnumeratedParameter = 0x2000;
constexpr int32 actionListParameter = 0x4000;
constexpr int32 actionOptionalParameter = 0x8000;

constexpr Fixed kFixedOne = 0x10000;  // 1.0 in 16.16

constexpr DescriptorTypeID typeFloat = FourCharCode("doub");
constexpr DescriptorTypeID typeInteger = FourCharCode("long");
constexpr DescriptorTypeID typeBoolean = FourCharCode("bool");

constexpr const char* kPSActionDescriptorSuite = "df135115-c769-11d0-8079-00c04fd7ec47";
constexpr int32 kPSActionDescriptorSuiteVersion = 2;
constexpr const char* kPSDescriptorRegistrySuite = "61e608b0-40fd-11d1-8da3-00c04fd5f7ee";
constexpr int32 kPSDescriptorRegistrySuiteVersion = 1;

// The entry point every host calls.
extern "C" typedef void (*PluginMainProc)(int16 selector, void* record, intptr_t* data,
                                          int16* result);

#include "hostapi/host_interface_layout.h"
