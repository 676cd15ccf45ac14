/*
 * Qel_Tb.h - public interface of the toolbox library libQelTb.
 *
 * Time stamps, checksums, sized heap blocks, named pipes with time-outs, the
 * log line, the key=value settings file and the command coder, plus the
 * package layout that the raster filter and the print monitor daemon exchange
 * over their two FIFOs.  Plain C; usable from C and C++.
 */
#ifndef QEL_TB_H
#define QEL_TB_H

#include <stddef.h>
#include <stdint.h>
#include <time.h>

/* Strict ISO C modes may leave struct timespec undeclared in <time.h>. */
struct timespec;

#if defined(__GNUC__) || defined(__clang__)
#define QEL_TB_EXPORT __attribute__((visibility("default")))
#else
#define QEL_TB_EXPORT
#endif

#ifdef __cplusplus
#define QEL_TB_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C"
{
#else
#define QEL_TB_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

    /* ------------------------------------------------------------------------ */
    /* Time stamps and elapsed time                                             */
    /* ------------------------------------------------------------------------ */

    /* Version text of this library; static storage, never freed or changed. */
    QEL_TB_EXPORT char* qel_tb_get_library_info(void);

    /* Stores the current CLOCK_REALTIME reading in *ts_start (null: nothing). */
    QEL_TB_EXPORT void qel_tb_set_time_stamp(struct timespec* ts_start);

    /* Absolute distance in whole milliseconds between *ts_start and now;
     * 0 for a null pointer or an unreadable clock. */
    QEL_TB_EXPORT unsigned long qel_tb_calc_age_in_ms(struct timespec* ts_start);

    /* *ms = tv_sec * 1000 + tv_nsec / 1000000 (truncated); null: nothing. */
    QEL_TB_EXPORT void qel_tb_convert_ts_to_ms(struct timespec* ts, unsigned long* ms);

    /* *delta = later of ts1/ts2 minus the earlier one; any null: nothing. */
    QEL_TB_EXPORT void qel_tb_get_delta_ts(struct timespec* ts1, struct timespec* ts2,
                                           struct timespec* delta);

    /* ------------------------------------------------------------------------ */
    /* Checksums                                                                */
    /* ------------------------------------------------------------------------ */

    /* CRC-32/ISO-HDLC of dwData bytes; 0xFFFFFFFF for a null pointer. */
    QEL_TB_EXPORT uint32_t qel_tb_calc_crc32(const unsigned char* data, uint32_t dwData);

    /* CRC-16/IBM-SDLC of dwData bytes; 0xFFFF for a null pointer. */
    QEL_TB_EXPORT unsigned short qel_tb_calc_crc16(const unsigned char* data, uint32_t dwData);

    /* ------------------------------------------------------------------------ */
    /* Sized memory blocks                                                      */
    /* ------------------------------------------------------------------------ */

    /* New block of size zero bytes; null when the heap is exhausted. */
    QEL_TB_EXPORT void* qel_tb_alloc_mem(unsigned long size);

    /* Releases a block of this family; null does nothing. */
    QEL_TB_EXPORT void qel_tb_free(void* mem);

    /* New block holding mem's bytes followed by size bytes of data (unset when
     * data is null).  mem is always released; null when the heap is exhausted. */
    QEL_TB_EXPORT void* qel_tb_alloc_mem_cat(void* mem, const void* data, unsigned long size);

    /* Payload size of a block; 0 for null. */
    QEL_TB_EXPORT unsigned long qel_tb_alloc_mem_size(void* mem);

    /* ------------------------------------------------------------------------ */
    /* Named pipes                                                              */
    /* ------------------------------------------------------------------------ */

    typedef enum
    {
        EV_QEL_TB_DRIVER_IO_PIPE_ACCESS_READ = 0,  /* O_RDONLY | O_NONBLOCK */
        EV_QEL_TB_DRIVER_IO_PIPE_ACCESS_WRITE = 1, /* O_WRONLY | O_NONBLOCK */
    } ET_QEL_TB_DRIVER_IO_PIPE_ACCESS;

    /* Makes the FIFO, or takes the caller's own FIFO found at the path, with
     * mode 0660 (owner and group, whatever the umask; a caller running as
     * root gives it to the group "lp" of CUPS's filters).  -1, changing nothing,
     * when the path holds anything else: a link (never followed), a file, a
     * FIFO of another user; or when the FIFO cannot be made. */
    QEL_TB_EXPORT int qel_tb_initialize_named_pipe(const char* named_pipe_path);

    /* remove() of the FIFO file: 0 or -1. */
    QEL_TB_EXPORT int qel_tb_remove_named_pipe_file(const char* named_pipe_path);

    /* Opens one end non-blocking, retrying 10 ms apart for up to 3000 ms;
     * descriptor or -1. */
    QEL_TB_EXPORT int qel_tb_open_named_pipe(const char* named_pipe_path,
                                             ET_QEL_TB_DRIVER_IO_PIPE_ACCESS pipe_access);

    /* close(); a negative descriptor has no effect. */
    QEL_TB_EXPORT void qel_tb_close_named_pipe(int pipe);

    /* Reads up to size bytes within timeout_ms; returns the bytes read. */
    QEL_TB_EXPORT unsigned long qel_tb_read_named_pipe(int pipe, unsigned char* data,
                                                       unsigned long size,
                                                       unsigned long timeout_ms);

    /* Writes up to size bytes within timeout_ms; returns the bytes written. */
    QEL_TB_EXPORT unsigned long qel_tb_write_named_pipe(int pipe, const unsigned char* data,
                                                        unsigned long size,
                                                        unsigned long timeout_ms);

    /* ------------------------------------------------------------------------ */
    /* Log file                                                                 */
    /* ------------------------------------------------------------------------ */

    /* Appends "[DD.MM.YYYY_hh:mm:ss] : " + text (100 columns) + " " + status
     * (or " ") + "\n" to file.  Null file or an unopenable file: nothing. */
    QEL_TB_EXPORT void qel_tb_write_log_file(const char* file, const char* text,
                                             const char* status);

    /* ------------------------------------------------------------------------ */
    /* Settings file                                                            */
    /* ------------------------------------------------------------------------ */

    typedef enum
    {
        EV_QEL_TB_CONFIG_ACCESS_READ = 0,
        EV_QEL_TB_CONFIG_ACCESS_WRITE = 1,
    } ET_QEL_TB_CONFIG_ACCESS;

    /* Indexes of the fourteen settings in TS_QEL_TB_CONFIG_FILE. */
    enum
    {
        EV_QEL_TB_CONFIG_FILE_KEY_PAUSE_TIME = 0,
        EV_QEL_TB_CONFIG_FILE_KEY_PAGE_COUNTER = 1,
        EV_QEL_TB_CONFIG_FILE_KEY_LOG_STATUS = 2,
        EV_QEL_TB_CONFIG_FILE_KEY_MAX_NUMBER_PAGES = 3,
        EV_QEL_TB_CONFIG_FILE_KEY_RESET_PAGE_COUNT = 4,
        EV_QEL_TB_CONFIG_FILE_KEY_ADDITIONAL_DIALOG_TIME = 5,
        EV_QEL_TB_CONFIG_FILE_KEY_LANGUAGE = 6,
        EV_QEL_TB_CONFIG_FILE_KEY_INQUIRY_TIME = 7,
        EV_QEL_TB_CONFIG_FILE_KEY_LOG_FILE_LIFE = 8,
        EV_QEL_TB_CONFIG_FILE_KEY_WIDGET_ALWAYS_ON_TOP = 9,
        EV_QEL_TB_CONFIG_FILE_KEY_WIDGET_BORDER = 10,
        EV_QEL_TB_CONFIG_FILE_KEY_WIDGET_BODER_WIDTH = 11,
        EV_QEL_TB_CONFIG_FILE_KEY_CLOCK = 12,
        EV_QEL_TB_CONFIG_FILE_KEY_MAXIMUM_DIALOG_TIME = 13,
        EN_QEL_TB_CONFIG_FILE_ATTRIBUTES = 14
    };

/* Size of a key or value field; texts hold at most 254 characters. */
#define QEL_TB_CONFIG_FIELD_SIZE 255

    typedef struct
    {
        char key[QEL_TB_CONFIG_FIELD_SIZE];
        char value[QEL_TB_CONFIG_FIELD_SIZE];
    } TS_QEL_TB_CONFIG_ATTRIBUTE;

    typedef struct
    {
        TS_QEL_TB_CONFIG_ATTRIBUTE attributes[EN_QEL_TB_CONFIG_FILE_ATTRIBUTES];
    } TS_QEL_TB_CONFIG_FILE;

    /* Trims space, tab, LF, VT, FF and CR at both ends in place; returns s. */
    QEL_TB_EXPORT char* qel_tb_trim(char* s);

    /* Opens the settings file; returns a non-zero handle or 0.  Read mode creates
     * a missing file empty; write mode truncates. */
    QEL_TB_EXPORT int qel_tb_config_file_open(const char* config_file,
                                              ET_QEL_TB_CONFIG_ACCESS config_access);

    /* Closes a handle from qel_tb_config_file_open; 0 or a stale handle: nothing. */
    QEL_TB_EXPORT void qel_tb_config_file_close(int file);

    /* Writes "key=value\n", or "key\n" for a key starting with '#'. */
    QEL_TB_EXPORT void qel_tb_config_file_writePair(int file, const char* key, const char* value);

    /* Looks key up in the whole file; copies its trimmed value, or default_value,
     * into value (255 bytes).  default_value may be value itself. */
    QEL_TB_EXPORT void qel_tb_config_file_readPair(int file, const char* key, char* value,
                                                   const char* default_value);

    /* Fills the set with the fourteen keys and their default values. */
    QEL_TB_EXPORT void qel_tb_config_file_init(TS_QEL_TB_CONFIG_FILE* config_file);

    /* Defaults, then every key found in the file. */
    QEL_TB_EXPORT void qel_tb_config_file_read(const char* config_file,
                                               TS_QEL_TB_CONFIG_FILE* config_attributes);

    /* Rewrites the file with exactly the fourteen pairs in index order. */
    QEL_TB_EXPORT void qel_tb_config_file_write(const char* config_file,
                                                TS_QEL_TB_CONFIG_FILE* config_attributes);

    /* ------------------------------------------------------------------------ */
    /* Command coding                                                           */
    /* ------------------------------------------------------------------------ */

    /* New command record from coded text; non-zero handle, or 0. */
    QEL_TB_EXPORT int qel_tb_cmd_init_coded(const unsigned char* cmd_ptr, unsigned int cmd_size);

    /* New command record from raw bytes; non-zero handle, or 0. */
    QEL_TB_EXPORT int qel_tb_cmd_init_raw(const unsigned char* cmd_ptr, unsigned int cmd_size);

    /* Raw bytes of a record (owned by the record); 1, or 0 on a bad argument. */
    QEL_TB_EXPORT int qel_tb_cmd_get_raw(int cmd, unsigned char** cmd_ptr, unsigned int* cmd_size);

    /* Coded text of a record (owned by the record); 1, or 0 on a bad argument. */
    QEL_TB_EXPORT int qel_tb_cmd_get_coded(int cmd, unsigned char** cmd_ptr,
                                           unsigned int* cmd_size);

    /* Coded text as a zero-terminated string; 1, or 0 on a bad argument. */
    QEL_TB_EXPORT int qel_tb_cmd_get_coded_str(int cmd, char** ppszStr);

    /* Releases a record; 0 or a stale handle does nothing. */
    QEL_TB_EXPORT void qel_tb_cmd_exit(int cmd);

/* ------------------------------------------------------------------------ */
/* Print monitor protocol (filter <-> print monitor daemon)                 */
/* ------------------------------------------------------------------------ */

/* Request pipe (filter -> monitor) and answer pipe (monitor -> filter). */
#define QEL_TB_PRINT_MONITOR_REQUEST_FIFO "/tmp/Qel_PrintMonitor_ClientServer.fifo"
#define QEL_TB_PRINT_MONITOR_ANSWER_FIFO "/tmp/Qel_PrintMonitor_ServerCient.fifo"

/* Value of the synchronization field of every package header. */
#define QEL_TB_DRIVER_IO_SYNCHRONIZATION 0x01010101u

    typedef enum
    {
        EV_QEL_TB_DRIVER_IO_MSG_NONE = 0,
        EV_QEL_TB_DRIVER_IO_MSG_REQUEST_START_PRINTING = 1,
        EV_QEL_TB_DRIVER_IO_MSG_REQUEST_STOP_PRINTING = 2,
        EV_QEL_TB_DRIVER_IO_MSG_REQUEST_LAST_PAGE = 3,
        EV_QEL_TB_DRIVER_IO_MSG_REQUEST_IS_PRINTING = 4,
        EV_QEL_TB_DRIVER_IO_MSG_REQUEST_RESTART_DAEMON = 5,
        EV_QEL_TB_DRIVER_IO_MSG_REQUEST_UPDATE_DATA = 6,
        EV_QEL_TB_DRIVER_IO_MSG_REQUEST_PAGE_DATA = 7,
        EV_QEL_TB_DRIVER_IO_MSG_REQUEST_PAGE_SETTINGS = 8,
        EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_START_PRINTING = 9,
        EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_STOP_PRINTING = 10,
        EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_PAUSE_PRINTING = 11,
        EV_QEL_TB_DRIVER_IO_MSG_RESPONSE_PRINTING_DONE = 12,
    } ET_QEL_TB_DRIVER_IO_MSG;

    /* Header of every package, 24 bytes, little-endian; data_size bytes follow. */
    typedef struct
    {
        uint64_t synchronization; /* 0x01010101 */
        int32_t header_size;      /* 24 */
        int32_t id;               /* ET_QEL_TB_DRIVER_IO_MSG */
        uint64_t data_size;       /* bytes of data after the header */
    } TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER;

    /* Data of a PAGE_SETTINGS package, 44 bytes, little-endian. */
    typedef struct
    {
        int32_t print_density;        /* cupsCompression */
        int32_t print_speed;          /* cupsRowFeed */
        int32_t path_selection;       /* MediaPosition */
        uint32_t page_width_in_bytes; /* cupsBytesPerLine */
        uint32_t page_hight_in_bits;  /* cupsHeight (dot lines) */
        int32_t form_feed;            /* AdvanceMedia */
        int32_t end_cut;              /* CutMedia */
        int32_t advanced_distance;    /* AdvanceDistance */
        int32_t trailing_blanks;      /* Duplex */
        int32_t number_of_copies;     /* NumCopies */
        int32_t raster_header;        /* 0: no meaning for the monitor */
    } TS_QEL_TB_PAGE_PROCCESS_PAGE_SETTINGS;

    QEL_TB_STATIC_ASSERT(sizeof(TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER) == 24,
                         "package header must be 24 bytes");
    QEL_TB_STATIC_ASSERT(offsetof(TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER, header_size) == 8,
                         "header_size at offset 8");
    QEL_TB_STATIC_ASSERT(offsetof(TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER, id) == 12, "id at offset 12");
    QEL_TB_STATIC_ASSERT(offsetof(TS_QEL_TB_DRIVER_IO_PACKAGE_HEADER, data_size) == 16,
                         "data_size at offset 16");
    QEL_TB_STATIC_ASSERT(sizeof(TS_QEL_TB_PAGE_PROCCESS_PAGE_SETTINGS) == 44,
                         "page settings must be 44 bytes");
    QEL_TB_STATIC_ASSERT(offsetof(TS_QEL_TB_PAGE_PROCCESS_PAGE_SETTINGS, raster_header) == 40,
                         "raster_header at offset 40");

#ifdef __cplusplus
}
#endif

#endif /* QEL_TB_H */
