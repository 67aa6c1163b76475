/* hedgerow.h -- the public C interface of the Hedgerow library.
 *
 * Hedgerow packs files into compressed, enciphered archives and hides a file
 * inside a BMP, WAV or PCX carrier. The host calls the functions below and
 * answers the library's questions through callback procedures that it
 * registers. Every operation reports its outcome through one process-wide
 * status word, read with GetArchiveStatus().
 *
 * Conventions
 *  - All strings are zero-terminated. On Windows they are in the ANSI code
 *    page; elsewhere they are UTF-8. Backslash and slash both separate the
 *    parts of a path.
 *  - Names stored inside archives are kept in the OEM code page (850 outside
 *    Windows); the library converts in both directions.
 *  - The library is single-threaded: all state is process-wide, and every
 *    callback runs on the caller's thread from inside the call.
 *  - Memory of lists belongs to the host's list heads and is released by the
 *    matching Done function.
 *
 * Status values never change once published; new ones may be added.
 */
#ifndef HEDGEROW_H
#define HEDGEROW_H

#include <stdint.h>

#if defined(_WIN32)
#  include <windows.h>
#endif

/* HEDGEROW_API marks the exports; HEDGEROW_CALL is their calling convention
 * (stdcall on 32-bit Windows, the platform default elsewhere). Callback
 * procedures must use HEDGEROW_CALL as well. */
#if defined(_WIN32)
#  if defined(HEDGEROW_BUILDING) || defined(HEDGEROW_STATIC)
#    define HEDGEROW_API /* exported through the module-definition file */
#  else
#    define HEDGEROW_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define HEDGEROW_API __attribute__((visibility("default")))
#else
#  define HEDGEROW_API
#endif

#if defined(_WIN32) && !defined(_WIN64)
#  define HEDGEROW_CALL __stdcall
#else
#  define HEDGEROW_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * Status codes (the value of the status word). 0 is success; any other value
 * is the code of the first failure that stopped an operation.
 * ------------------------------------------------------------------------ */
#define arOk                    0     /* success */
#define arNotFound              2     /* a file that must exist does not; the self-extractor module cannot be loaded */
#define arIoError               5     /* a file cannot be opened, created, positioned or read */
#define arLengthError           6     /* the length of the archive file cannot be determined */
#define arNoMemory              8     /* a memory block cannot be allocated */
#define arWriteError            101   /* a write stored fewer bytes than asked (as a rule: disk full) */
#define arSfxEntryMissing       106   /* the self-extractor module lacks a function the library needs */
#define arCancelled             2926  /* the host cancelled through a callback */
#define arNoEntries             9906  /* no archive entry, or none matches the masks */
#define arNoPassword            9953  /* a password the operation needs is empty */
#define arCarrierTooSmall       9954  /* the carrier has no room for the data to hide */
#define arNothingHidden         9955  /* the carrier holds no hidden file */
#define arEmptyFile             9956  /* the file to hide, or the file prepared from it, is empty */
#define arCompressedCarrier     9957  /* the picture carrier is stored compressed */
#define arUnsupportedCarrier    9958  /* the carrier's colour depth or sample format is not supported */
#define arBadPassword           9961  /* no valid password: a header or data check failed */
#define arCrcError              9962  /* an entry that is not enciphered fails its CRC check */
#define arNoTempPath            9963  /* the system's temporary directory cannot be found */
#define arBadFormat             9964  /* a record or carrier header does not have the expected form */
#define arNothingToDo           9967  /* the masks name no file to work on */
#define arNameTooLong           9968  /* a path, name or mask is longer than its buffer holds (see below) */
#define arUnsafeName            9969  /* a stored name would be extracted outside the output directory */
#define arUnsupported           9970  /* the request needs a feature this build does not have */
#define arAlwaysLocked          9971  /* a strong archive's records are always enciphered: nothing to lock or unlock */
#define arDamagedEntries        9972  /* extraction or a check found damaged entries (each told to SkipFileProc); the others are whole */
#define arBadSettings           9973  /* the settings' extension block holds a value out of range */
#define arArchiveBusy           9974  /* another program holds the archive (arOptNoWait), or made it first */
#define arTooLarge              9975  /* a file or entry of 2 GiB or more, which archives cannot hold */
#define arNoTempFile            9976  /* no temporary file could be made: every name of its form is taken */
#define arNotAnArchive          9999  /* the file is not an archive: no marker record found */
#define arSfxFailed             32768 /* the self-extractor module's GetSfxHead2 failed */

/* ------------------------------------------------------------------------
 * Option bits (the options word is 0x0800 at load).
 * ------------------------------------------------------------------------ */
#define arOptRestorePaths       0x0001 /* extraction recreates the stored directories */
#define arOptStoreLinks         0x0002 /* a symbolic link named by a mask is stored as a link (legacy
                                          archives: its target text, marked in the metadata extension);
                                          off: the file it points to is stored */
#define arOptStoreDirectories   0x0004 /* a directory named by a mask is stored as an empty-directory
                                          entry (legacy archives); off: it is skipped */
#define arOptKeepSetId          0x0008 /* extraction restores set-user-id and set-group-id bits */
#define arOptNamesOnly          0x0010 /* masks are full paths; names are stored without directories */
#define arOptNoWait             0x4000 /* an archive another program is reading or writing: fail with
                                          arArchiveBusy at once instead of waiting for it */
#define arOptDefault            0x0800 /* on at load; not tested by the library */
#define arOptLocked             0x8000 /* locked: can be neither set nor cleared */

/* ------------------------------------------------------------------------
 * Callback procedures. The 32-bit user value given at registration comes
 * back unchanged as the first argument of every call.
 * ------------------------------------------------------------------------ */

/* The record handed to OkToReplaceProc: the platform's find-data record on
 * Windows, an equivalent record with the same fields in the same order
 * elsewhere. File times are UTC, in 100-nanosecond units since 1601. */
#if defined(_WIN32)
typedef FILETIME HedgerowFileTime;
typedef WIN32_FIND_DATAA HedgerowFindData;
#else
typedef struct HedgerowFileTime {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
} HedgerowFileTime;

typedef struct HedgerowFindData {
    uint32_t         dwFileAttributes;
    HedgerowFileTime ftCreationTime;
    HedgerowFileTime ftLastAccessTime;
    HedgerowFileTime ftLastWriteTime;
    uint32_t         nFileSizeHigh;
    uint32_t         nFileSizeLow;
    uint32_t         dwReserved0;
    uint32_t         dwReserved1;
    char             cFileName[260];
    char             cAlternateFileName[14];
} HedgerowFindData;
#endif

/* Progress of the running operation. percent: share of the current file
 * done (as a rule 0 to 100); count: work done since the last accepted call.
 * Return 0 to cancel (status arCancelled), anything else to go on. */
typedef int32_t (HEDGEROW_CALL *ProgressProc)(uint32_t user, int32_t percent, int32_t count);

/* Announces the file about to be handled. The result is ignored. */
typedef int32_t (HEDGEROW_CALL *FileNameProc)(uint32_t user, const char* first, const char* second);

/* A file selected for compression cannot be opened. Return 1 to skip it,
 * 2 to cancel (arCancelled); anything else stops with arIoError.
 * Also called during the extraction of a strong archive for an entry whose
 * data is damaged (it is left out): return 2 to cancel, anything else to go on
 * with the next entries. */
typedef int32_t (HEDGEROW_CALL *SkipFileProc)(uint32_t user, const char* file_name);

/* A data password is needed (none set, or the data failed its check).
 * password: a zero-filled buffer of 250 bytes that receives the password.
 * Return 1 when the buffer holds a password to try, 0 to give up
 * (arBadPassword). For a strong archive it is asked with the archive's name
 * when the password is missing or wrong (which the archive's header tells for
 * certain), until the host gives up. */
typedef int32_t (HEDGEROW_CALL *CryptKeyProc)(uint32_t user, char* password, const char* entry_name);

/* The header password of a locked archive is wrong or missing.
 * password: the library's cleared 256-byte header-password buffer.
 * Return nonzero when the buffer holds a password to try, 0 to give up
 * (arBadPassword). */
typedef int32_t (HEDGEROW_CALL *HeadCryptKeyProc)(uint32_t user, char* password, const char* archive_name);

/* Asked before a file or entry is replaced: first the thing that would be
 * replaced, then its replacement. Return 0 to replace, 1 to keep what exists,
 * 2 to cancel (arCancelled). Extraction passes (disk file, entry); update
 * passes (entry, disk file). */
typedef int32_t (HEDGEROW_CALL *OkToReplaceProc)(uint32_t user, const HedgerowFindData* existing,
                                                 const HedgerowFindData* replacement);

/* Used by the self-extractor module while it splits a file over disks:
 * asks for the disk that receives piece number disk_number (2, 3, ...),
 * written to piece_path. Return nonzero to go on, 0 to cancel. */
typedef int32_t (HEDGEROW_CALL *GetNextDiskProc)(uint32_t user, int32_t disk_number, const char* piece_path);

/* Used by the self-extractor module while it splits a file over disks:
 * percent of the whole file written; piece: the number of the piece being
 * written. Return 0 to cancel, anything else to go on. */
typedef int32_t (HEDGEROW_CALL *SfxProgressProc)(uint32_t user, int32_t percent, int32_t piece);

/* ------------------------------------------------------------------------
 * Shared records.
 * ------------------------------------------------------------------------ */

/* One mask of a FileMaskList; owned by the library, opaque to the host. */
typedef struct FileMaskRecord FileMaskRecord;

/* A list of file masks, owned by the host (initialise with
 * InitFileMaskList, free with DoneFileMaskList). */
typedef struct FileMaskList {
    FileMaskRecord* first;
    FileMaskRecord* last;
} FileMaskList;

/* The settings block handed to InitHidFile and CreateHidFile (3128 bytes). */
typedef struct HidFileSettings {
    int32_t  cipher_id;           /* -1 none, 0 DES, 1 two-key triple DES, 2 IDEA;
                                     3: a strong archive (CreateHidFile; see below) */
    uint32_t lock_headers;        /* 1: encipher the entry records of a new archive */
    uint32_t reserved0;
    uint32_t make_self_extractor; /* 1: build a self-extracting archive */
    uint8_t  sfx_parameters[2076];/* handed to the self-extractor module; word 2 selects disk spanning */
    char     data_password[256];  /* zero-terminated */
    char     header_password[256];/* zero-terminated */
    uint8_t  reserved1[524];      /* zero, or a HidFileExtension (below) */
} HidFileSettings;

/* The extension block: an overlay of HidFileSettings.reserved1 that carries
 * settings the original block has no field for. It counts only when tag is
 * HEDGEROW_EXTENSION_TAG and tag_check its bitwise complement; any other
 * bytes there (zeros, or whatever a host left) give every default. In a block
 * that counts, a zero field means that field's default, and a value out of
 * range makes InitHidFile and CreateHidFile fail with arBadSettings. Copy it
 * in with memcpy (reserved1 has no alignment of its own); all fields are in
 * the machine's byte order.
 *
 *   level    compression of the files an archive operation writes: 1 (fastest)
 *            to 9 (smallest); 0: the default, 5; HEDGEROW_LEVEL_STORE: stored
 *            without compression. Every level writes the same stream format:
 *            every reader of the format reads every level.
 *   workers  files compressed, or entries expanded, at once:
 *            1 to HEDGEROW_MAX_WORKERS; 0: one per online processor core. The
 *            archive's bytes do not depend on it, and callbacks come from the
 *            calling thread in the same order whatever it is.
 *   kdf_memory_kib, kdf_passes, kdf_lanes
 *            the Argon2id parameters of the password of a strong archive that
 *            is created, or whose password ChangeArchivePassword changes:
 *            memory in KiB (8 x lanes to HEDGEROW_MAX_KDF_MEMORY_KIB; 0: 65536),
 *            passes (1 to 64; 0: 3), lanes (1 to 64; 0: 1); for a change of
 *            password, 0 keeps the archive's own. Updating and deleting keep
 *            the archive's own, which its header names.
 *   reserved zero; later fields take their place, with zero as their default. */
#define HEDGEROW_EXTENSION_TAG  0x31584548u  /* "HEX1" in little-endian bytes */
#define HEDGEROW_LEVEL_STORE    (-1)
#define HEDGEROW_LEVEL_DEFAULT  0
#define HEDGEROW_MAX_WORKERS    64
#define HEDGEROW_MAX_KDF_MEMORY_KIB 4194304u  /* 4 GiB */
typedef struct HidFileExtension {
    uint32_t tag;                /* HEDGEROW_EXTENSION_TAG */
    uint32_t tag_check;          /* ~HEDGEROW_EXTENSION_TAG */
    uint32_t size;               /* sizeof(HidFileExtension): 524; 0 is taken as 524 */
    int32_t  level;              /* -1 (store), 0 (default: 5), 1..9 */
    int32_t  workers;            /* 0 (one per online core), 1..HEDGEROW_MAX_WORKERS */
    uint32_t kdf_memory_kib;     /* 0 (default: 65536), 8 x lanes..HEDGEROW_MAX_KDF_MEMORY_KIB */
    uint32_t kdf_passes;         /* 0 (default: 3), 1..64 */
    uint32_t kdf_lanes;          /* 0 (default: 1), 1..64 */
    uint32_t reserved[123];      /* zero */
} HidFileExtension;

/* One listed archive entry. On 32-bit platforms the fields follow each other
 * without gaps; on 64-bit platforms the two pointers are 8 bytes wide and
 * aligned to 8, which puts 4 bytes of padding in front of each. */
typedef struct HidFileEntry {
    uint32_t valid;              /* 1 */
    char     name[256];          /* stored name, converted to the API's code page */
    uint32_t packed_size;        /* bytes of the entry's data in the archive (low 32 bits) */
    uint32_t unpacked_size;      /* bytes of the file (low 32 bits) */
    uint32_t date_time;          /* DOS time in the low half, DOS date in the high half, local time */
    uint32_t attributes;         /* file attribute word */
    uint32_t enciphered;         /* 1 when the data is enciphered */
    uint32_t format_revision;    /* 30; 1 in a strong archive */
    uint32_t record_offset;      /* file offset of the entry record (low 32 bits) */
    uint32_t unpacked_size_high; /* high 32 bits of unpacked_size (strong archives; 0 otherwise) */
    uint32_t packed_size_high;   /* high 32 bits of packed_size (strong archives; 0 otherwise) */
    int32_t  cipher_id;          /* -1, 0, 1 or 2; 3 in a strong archive */
    uint32_t record_length;      /* 432; the data begins at record_offset + record_length; 0 in a strong archive */
    uint32_t reserved2;
    uint32_t data_crc;           /* CRC-32 of the unpacked data (0 in a strong archive: its data is authenticated) */
    uint32_t reserved3;
    uint32_t reserved4;
    uint32_t name_length;        /* characters in the stored name */
    uint32_t record_tag;         /* 77; 0x4B525453 in a strong archive */
    uint32_t unix_mode;          /* Unix mode bits, where the archive keeps them (HEDGEROW_META_KEPT); else 0 */
    uint32_t mtime_low;          /* modification time in seconds since 1970 (UTC), a signed 64-bit */
    uint32_t mtime_high;         /*   value in two halves, where the archive keeps it; else both 0 */
    uint8_t* record_copy;        /* the whole 432-byte record as read (deciphered); owned by the entry;
                                    NULL in a strong archive, whose records are sealed */
    uint32_t mtime_nanoseconds;  /* nanoseconds of the modification time, where kept; else 0 */
    uint32_t entry_kind;         /* HEDGEROW_ENTRY_FILE, _DIRECTORY (an empty directory) or _SYMLINK
                                    (a symbolic link; its data is the target text) */
    uint32_t metadata_flags;     /* HEDGEROW_META_* bits */
    struct HidFileEntry* next;   /* next entry, NULL at the end */
} HidFileEntry;

#define HEDGEROW_ENTRY_FILE      0
#define HEDGEROW_ENTRY_DIRECTORY 1
#define HEDGEROW_ENTRY_SYMLINK   2
#define HEDGEROW_META_KEPT       0x0001 /* unix_mode and the mtime fields hold what the archive keeps */
#define HEDGEROW_META_UTF8_NAME  0x0002 /* the record stores the name as UTF-8 (a legacy archive's
                                           metadata extension); name is converted all the same */

/* The entry list filled by BuildHidFileList, owned by the host. */
typedef struct HidFileList {
    uint32_t      count;
    HidFileEntry* first;
    HidFileEntry* last;
} HidFileList;

/* What GetHidFileInfo tells of the archive InitHidFile or CreateHidFile named.
 * The host sets size to sizeof(HidFileInfo) before the call. */
#define HEDGEROW_KIND_LEGACY 0
#define HEDGEROW_KIND_STRONG 1
typedef struct HidFileInfo {
    uint32_t size;               /* sizeof(HidFileInfo) (32), set by the host */
    int32_t  kind;               /* HEDGEROW_KIND_LEGACY or HEDGEROW_KIND_STRONG */
    uint32_t kdf_memory_kib;     /* strong: Argon2id memory in KiB; legacy: 0 */
    uint32_t kdf_passes;         /* strong: Argon2id passes; legacy: 0 */
    uint32_t kdf_lanes;          /* strong: Argon2id lanes; legacy: 0 */
    uint32_t reserved[3];        /* zero */
} HidFileInfo;

/* ------------------------------------------------------------------------
 * Library state and control.
 *
 * Paths longer than their buffers (output path 255 characters, input and
 * relative path 260, in bytes of the API's encoding, a separator added by the
 * library included) are refused: the path becomes empty, the status word
 * becomes arNameTooLong, and every operation that would use the refused path
 * stops with arNameTooLong until the path is set again.
 * ------------------------------------------------------------------------ */

/* @return the status word. */
HEDGEROW_API uint16_t HEDGEROW_CALL GetArchiveStatus(void);
/* Stores a value in the status word. @return the same value. */
HEDGEROW_API uint16_t HEDGEROW_CALL SetArchiveStatus(uint16_t status);
/* Sets option bits (arOptLocked cannot be changed). @return the new options word. */
HEDGEROW_API uint16_t HEDGEROW_CALL arOptionsOn(uint16_t bits);
/* Clears option bits (arOptLocked cannot be changed). @return the new options word. */
HEDGEROW_API uint16_t HEDGEROW_CALL arOptionsOff(uint16_t bits);
/* @return 1 when every given bit is on (also for 0), else 0. */
HEDGEROW_API uint8_t HEDGEROW_CALL arOptionsAreOn(uint16_t bits);
/* Directory that extraction and unhiding write into; a separator is added. */
HEDGEROW_API void HEDGEROW_CALL SetOutputPath(const char* path);
/* Directory that mask directories are relative to; a separator is added when
 * the path is longer than 3 characters. */
HEDGEROW_API void HEDGEROW_CALL SetInputPath(const char* path);
/* Prefix of stored names: put in front on compression, removed on extraction. */
HEDGEROW_API void HEDGEROW_CALL SetRelativePath(const char* path);

/* Callback registration: the user value comes first, the procedure second.
 * A NULL procedure unregisters the kind. */
HEDGEROW_API void HEDGEROW_CALL SetSetProgressProc(uint32_t user, ProgressProc proc);
HEDGEROW_API void HEDGEROW_CALL SetSetFileNameProc(uint32_t user, FileNameProc proc);
HEDGEROW_API void HEDGEROW_CALL SetSkipFileProc(uint32_t user, SkipFileProc proc);
HEDGEROW_API void HEDGEROW_CALL SetSetCryptKeyProc(uint32_t user, CryptKeyProc proc);
HEDGEROW_API void HEDGEROW_CALL SetSetHeadCryptKeyProc(uint32_t user, HeadCryptKeyProc proc);
HEDGEROW_API void HEDGEROW_CALL SetOkToReplaceProc(uint32_t user, OkToReplaceProc proc);
HEDGEROW_API void HEDGEROW_CALL SetGetNextDiskProc(uint32_t user, GetNextDiskProc proc);
HEDGEROW_API void HEDGEROW_CALL SetSetSfxProgressProc(uint32_t user, SfxProgressProc proc);

/* Does nothing (kept for hosts that call it). */
HEDGEROW_API void HEDGEROW_CALL CreateArcFolder(void);
/* Does nothing (kept for hosts that call it). */
HEDGEROW_API void HEDGEROW_CALL DeleteFilesAndData(void);

/* ------------------------------------------------------------------------
 * File mask lists.
 * ------------------------------------------------------------------------ */

/* Empties a list head (records of an earlier use are not freed). */
HEDGEROW_API void HEDGEROW_CALL InitFileMaskList(FileMaskList* list);
/* Appends a mask ("*.*", "DATA\*.TXT", "X:\LETTERS\JANUARY.DOC", ...).
 * @return 1 on success; 0 when memory runs out (status arNoMemory) or the
 * mask is longer than 255 bytes (status arNameTooLong). */
HEDGEROW_API uint8_t HEDGEROW_CALL AppendFileMask(const char* mask, FileMaskList* list);
/* Frees every record and empties the head. */
HEDGEROW_API void HEDGEROW_CALL DoneFileMaskList(FileMaskList* list);

/* ------------------------------------------------------------------------
 * Naming an archive and listing its entries.
 *
 * Two kinds of archive. A legacy archive (cipher ids -1 to 2) is read by every
 * reader of its format. A strong archive (cipher id 3 for CreateHidFile) keys
 * everything from the data password with Argon2id and seals its entry records
 * (names, sizes, times, attributes, Unix modes) and every entry's data with
 * ChaCha20-Poly1305: nothing of it is readable without the password, a wrong
 * password is known for certain, and any change, cut or reordering of the
 * archive is detected. The same exports list, extract, update and delete it,
 * with the data password of the settings (or asked through CryptKeyProc); its
 * header password, locking and self-extracting builds do not apply
 * (LockArchive and UnlockArchive: arAlwaysLocked; make_self_extractor:
 * arUnsupported); ChangeArchivePassword changes its password. Its entries are
 * listed with cipher id 3, sizes in full (the _high fields), the Unix mode and
 * the exact modification time, and no record copy. Names are kept in UTF-8.
 * ------------------------------------------------------------------------ */

/* Loads the settings and opens an existing archive. On success the status is
 * arOk and every callback procedure but the header-password one is cleared, so
 * register callbacks after this call. arNotFound: no such file (use
 * CreateHidFile for new archives); arNotAnArchive; arBadPassword (no entry
 * record passes its check: a locked archive and no valid header password);
 * arNameTooLong (more than 260 bytes). */
HEDGEROW_API void HEDGEROW_CALL InitHidFile(const char* archive_name, const HidFileSettings* settings);
/* Prepares a new archive, created by the next CompressFileMaskListHid.
 * arNoPassword: the data password is empty, or locking is asked for without a
 * header password; arIoError: a file of that name exists (it is never
 * overwritten). The settings block is copied. */
HEDGEROW_API void HEDGEROW_CALL CreateHidFile(const char* archive_name, const HidFileSettings* settings);
/* Tells the kind of the named archive and, for a strong one, the Argon2id
 * parameters of its header (of a new one: those it will be made with); no
 * password is needed. Fills at most info->size bytes. arNotFound when no
 * archive is named, arBadFormat when a strong archive's header is damaged,
 * arIoError when it cannot be read. */
HEDGEROW_API void HEDGEROW_CALL GetHidFileInfo(HidFileInfo* info);
/* Forgets the archive name and the input path. @return 0. */
HEDGEROW_API int32_t HEDGEROW_CALL DoneHidFile(void);
/* Empties a list head. */
HEDGEROW_API void HEDGEROW_CALL InitHidFileList(HidFileList* list);
/* Lists the entries whose stored names match the masks (every entry for an
 * empty list), in archive order. arNoEntries when nothing matches;
 * arBadFormat when a damaged record ends the walk (the entries before it
 * stay listed). Free the list with DoneHidFileList. */
HEDGEROW_API void HEDGEROW_CALL BuildHidFileList(HidFileList* list, const FileMaskList* masks);
/* Frees every entry and its record copy, and empties the head. */
HEDGEROW_API void HEDGEROW_CALL DoneHidFileList(HidFileList* list);

/* ------------------------------------------------------------------------
 * Archive operations. Each reports through the status word; none leaves the
 * archive file open. A rewrite (update, delete, lock, unlock) writes a new
 * archive beside the old one, flushes it to disk and only then puts it in the
 * old one's place: on every failure the archive stays byte for byte as it was.
 * ------------------------------------------------------------------------ */

/* Creates the archive that CreateHidFile prepared, or updates the archive
 * InitHidFile opened, with the files the masks name (masks whose name part is
 * empty or begins with '*' name no file; directories are not searched).
 * Does nothing unless the status word is arOk: clear it with
 * SetArchiveStatus(0) after a failure. arNothingToDo: no mask names a file;
 * arCancelled, arIoError, arNoMemory, arWriteError, arNameTooLong. Files of 2 GiB
 * or more are refused with arUnsupported.
 *
 * Self-extracting archives: when the CreateHidFile settings say
 * make_self_extractor = 1, the module HEDGE32.ZZL beside the library writes an
 * extractor program and the new archive follows it in one runnable file
 * (arNotFound: no module; arSfxEntryMissing: it lacks a function; arIoError or
 * arSfxFailed: it failed). The host's mask list is then freed and its head
 * cleared. The third 32-bit word of sfx_parameters (little-endian) splits the
 * finished file into pieces for disks: 1: 362,496 bytes, 2: 730,112,
 * 3: 1,213,952, 4: 1,457,664 (other values: arUnsupported). The first piece
 * keeps the archive's name, piece n is named NAME.00n; the module asks
 * GetNextDiskProc before each further piece, reports through SfxProgressProc
 * and ProgressProc, announces each piece through FileNameProc (source, piece)
 * and asks OkToReplaceProc before it replaces an existing piece (0 replaces).
 * Joined again, the pieces give the whole file. Updating, deleting, locking and
 * unlocking keep the program in front and seal it anew. */
HEDGEROW_API void HEDGEROW_CALL CompressFileMaskListHid(const FileMaskList* masks);
/* Extracts the entries the masks select (every entry for an empty list) below
 * the output path. Each file is written to a temporary file beside its target
 * and takes the target's name only when it is complete and its CRC holds, so a
 * failed or cancelled extraction leaves no partial file and never damages an
 * existing one. A stored name that would lead outside the output path (a ".."
 * part), or a symbolic link below the output path, stops the extraction with
 * arUnsafeName; drive letters, server names and leading separators are dropped.
 * arNoEntries, arBadPassword, arCancelled, arIoError, ...
 * A damaged entry is left out (SkipFileProc is told its name; an answer of 2
 * cancels), the others are still extracted, and the status is then
 * arDamagedEntries. In a legacy archive an entry that fails its CRC is damaged
 * when it is not enciphered, or once the data password is proven: by another
 * enciphered entry whole under it in this call, or by a locked archive's records
 * when the header password is the same. Before that, CryptKeyProc is asked for
 * another password; when it has none (answer 0), the entry waits for a later
 * one to prove the password, and the call ends with arBadPassword when none
 * does. A damaged record ends the listing: the entries before it are extracted
 * and the status is arBadFormat. */
HEDGEROW_API void HEDGEROW_CALL ExtractFileMaskListHid(const FileMaskList* masks);
/* Checks the entries the masks select (every entry for an empty list; nothing
 * for a NULL pointer) as extraction would, decoding each one and comparing its
 * CRC (a strong archive: opening every sealed chunk), and writes nothing.
 * FileNameProc is told each entry ('\' and the stored name; an empty path).
 * A damaged entry is told to SkipFileProc (an answer of 2 cancels) and the next
 * ones are still checked. Statuses: arOk when every entry is whole;
 * arDamagedEntries when some are damaged; arBadPassword when no enciphered
 * entry of a legacy archive came out whole under the data password (the
 * entries that failed are then not called damaged: the password may be wrong);
 * arBadFormat when a damaged record ends the walk (the entries before it are
 * checked); arNoEntries, arCancelled, arIoError, arNoMemory. */
HEDGEROW_API void HEDGEROW_CALL TestFileMaskListHid(const FileMaskList* masks);
/* Removes the entries the masks select (every entry for an empty list; nothing
 * for a NULL pointer). arNoEntries when nothing is selected. */
HEDGEROW_API void HEDGEROW_CALL DeleteFileMaskListHid(const FileMaskList* masks);
/* Enciphers every entry record with the header password for enciphering (the
 * one of the last InitHidFile or CreateHidFile settings): changes the header
 * password of a locked archive (the old one is taken from the settings or asked
 * through HeadCryptKeyProc, called with user value 0), and locks an archive that
 * is not locked yet. Clears the callback registrations first (see
 * InitHidFile). arNoPassword without a header password. */
HEDGEROW_API void HEDGEROW_CALL LockArchive(const char* archive_name);
/* Writes every entry record in plain and clears the archive's locked flag. */
HEDGEROW_API void HEDGEROW_CALL UnlockArchive(const char* archive_name);
/* Changes the password of a strong archive to new_password: a new salt, and
 * every record sealed anew (the entries' data is copied as it is). The current
 * password is the data password of the settings (or asked through
 * CryptKeyProc); afterwards new_password is the data password. arNoPassword for
 * an empty new password; arBadPassword when the current one is wrong;
 * arUnsupported for a legacy archive (LockArchive changes its header
 * password). */
HEDGEROW_API void HEDGEROW_CALL ChangeArchivePassword(const char* archive_name, const char* new_password);

/* ------------------------------------------------------------------------
 * Hiding a file in a carrier: an uncompressed BMP picture of 8 or 24 bits per
 * pixel, a PCM WAV sound of 8 or 16 bits per sample (12 is taken as 16), or a
 * PCX picture of 256 or more colours (BMP headers of 12, 40, 64, 108 and 124
 * bytes; other depths and sample formats, and PNG, JPEG, GIF and TIFF pictures,
 * recognised by their first bytes, are arUnsupportedCarrier; a file of no
 * known kind is arBadFormat). The file is compressed and enciphered
 * with IDEA under the password, and its bits replace the lowest bit of pixel
 * bytes or samples (HideFileStrong: see there). None of these exports needs
 * an archive; all leave the data cipher set to IDEA, the archive unlocked and the password as the data
 * password for later archive operations.
 * ------------------------------------------------------------------------ */

/* Hides file_name in carrier. The carrier is replaced by a new version of
 * itself only when that is complete, and gets its time stamp and attribute
 * word back; after any failure it is as it was. 8-bit BMP palettes are
 * rearranged so that the picture looks the same where free entries allow.
 * @return 0 when the carrier was not changed, else nonzero (1 when its stamp
 * was put back, -1 when it could not be opened for that). The outcome is the
 * status word: arNoPassword (empty password), arEmptyFile, arCarrierTooSmall
 * (the carrier needs more than 8 bytes, or 16-bit samples, per byte of the
 * packed file, plus 1600), arBadFormat (unknown kind or malformed header),
 * arCompressedCarrier, arUnsupportedCarrier, arIoError, arNoMemory,
 * arWriteError, arCancelled. */
HEDGEROW_API int32_t HEDGEROW_CALL HideFile(const char* carrier, const char* file_name, const char* password);
/* As HideFile, in the strong form: the file is compressed and sealed with
 * ChaCha20-Poly1305 under a random key, which is sealed in turn under a key
 * that Argon2id derives from the password (with a random salt; memory, passes
 * and lanes as for a new strong archive). A wrong password is then known for
 * certain when the file is recovered, and any change to the hidden bytes is
 * found. Takes more of the carrier (124 bytes, and 16 per 64 KiB) and about a
 * quarter of a second for the password. Statuses as HideFile's. UnhideFile
 * reads both forms. */
HEDGEROW_API int32_t HEDGEROW_CALL HideFileStrong(const char* carrier, const char* file_name, const char* password);

/* How a carrier fell short, after HideFile or HideFileStrong ended with
 * arCarrierTooSmall, in bytes: needed is what was to be hidden (the file
 * compressed and enciphered, with its header), room the most this carrier
 * takes (by the length rule above; where that rule passed, what its pixels,
 * samples or decoded bytes took before they ran out). Both 0 after any other
 * outcome. The host sets size to sizeof(HideRoom) before the call. */
typedef struct HideRoom {
    uint32_t size;      /* sizeof(HideRoom) (24), set by the host */
    uint32_t reserved;  /* zero */
    uint64_t needed;
    uint64_t room;
} HideRoom;
HEDGEROW_API void HEDGEROW_CALL GetHideRoom(HideRoom* room);
/* Recovers the file hidden in carrier. It is written to the output path
 * followed by output_name, which is treated as extraction treats a stored
 * name (only its file-name part unless arOptRestorePaths is on); FileNameProc
 * and OkToReplaceProc are called as for an extracted entry. The file takes its
 * name only when it is complete and its check byte holds. arNothingHidden (no
 * hidden file), arBadPassword (the recovered bytes fail their check: a wrong
 * password), arCancelled (also when OkToReplaceProc answers 1 or 2), arBadFormat,
 * arUnsupportedCarrier, arCompressedCarrier, arIoError, arNoMemory, ...
 * A file hidden in the strong form answers arBadPassword only when the
 * password is wrong, and arCrcError when the hidden bytes were changed. */
HEDGEROW_API void HEDGEROW_CALL UnhideFile(const char* carrier, const char* output_name, const char* password);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* HEDGEROW_H */
