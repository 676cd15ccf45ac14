/* Qel_Api.h - printer access library: one printer port per process. */
#ifndef QEL_API_H
#define QEL_API_H

#include <stdint.h>

#if defined(__GNUC__)
#define QEL_API_EXPORT __attribute__((visibility("default")))
#else
#define QEL_API_EXPORT
#endif

#ifdef __cplusplus
extern "C"
{
#endif

    /*
     * Process-wide port state. The library keeps its one port in these variables;
     * a program may read them, and may set DEBUG_MESSAGES to 1 to get diagnostic
     * lines on standard output.
     */
    QEL_API_EXPORT extern int DEBUG_MESSAGES; /* 1: print diagnostics (default 0) */
    QEL_API_EXPORT extern int communication;  /* 0 none yet, 1 character device, 2 USB device */
    QEL_API_EXPORT extern int QEL_API_ACCESS_WRITE; /* USB OUT endpoint address (0x02) */
    QEL_API_EXPORT extern int QEL_API_ACCESS_READ;  /* USB IN endpoint address (0x81) */
    QEL_API_EXPORT extern int QEL_API_ACCESS_READ_ENDPOINT_SIZE; /* IN packet size (64) */
    QEL_API_EXPORT extern int QEL_API_INTERFACE;                 /* claimed USB interface (0) */
    QEL_API_EXPORT extern unsigned char* m_pub_rx_buffer;        /* 1024-byte USB receive ring */
    QEL_API_EXPORT extern int m_index_rx_bottom;                 /* next byte to hand out */
    QEL_API_EXPORT extern int m_index_rx_top;                    /* where the next byte goes */

    /*
     * qel_api_get_library_info - version text of the library (static storage).
     */
    QEL_API_EXPORT char* qel_api_get_library_info(void);

    /*
     * qel_api_printer_open - open a printer port by name.
     *
     *   port  I  "/dev/usb/lpN" or a name containing "Ttys" (character device;
     *            "Ttys" lines are set to 115200 8N1 with RTS/CTS), or
     *            "/dev/bus/usb/BBB/DDD" (USB device through libusb); a name
     *            without any of these markers is opened as the kind of the
     *            previous open.
     *
     * Returns the printer handle (>= 0), or
     *   -1  node could not be opened or is held by another opener (a character
     *       device is locked with flock for as long as it is open), no USB device
     *       list, libusb_open failed
     *   -2  null or unusable name, no device at that bus/address, unsupported model
     *   -3  the kernel driver could not be detached
     *   -4  the interface could not be claimed within 1000 ms
     *   -5  no active configuration descriptor
     *   -6  the first interface has no alternate setting
     *   -7  an alternate setting has fewer than 2 endpoints
     *   -8  no memory for the receive ring
     * A failed open leaves nothing open.
     */
    QEL_API_EXPORT intptr_t qel_api_printer_open(char* port);

    /*
     * qel_api_printer_close - close the port; a negative handle does nothing.
     */
    QEL_API_EXPORT void qel_api_printer_close(intptr_t printer);

    /*
     * qel_api_printer_set_serial - put a character-device port into raw mode:
     * baud_rate (2400..115200, others give 115200), always 8 data bits, parity
     * 'E'/'e' even, 'O'/'o' odd, anything else none, stop_bits 2 or 1, RTS/CTS,
     * VMIN 0 / VTIME 1 (an idle read returns after 0.1 s). Pending input is
     * discarded.
     *
     * Returns 0 for a negative handle, otherwise 1 (also on a USB port, where
     * nothing is changed, and when the device rejects the settings).
     */
    QEL_API_EXPORT int qel_api_printer_set_serial(intptr_t printer, unsigned long baud_rate,
                                                  unsigned char data_bits, unsigned char parity,
                                                  unsigned char stop_bits);

    /*
     * qel_api_printer_write - write size bytes, retrying until all are written or
     * timeout_ms has passed (at least one try; 10 ms pause after a try that
     * moved nothing; a USB try lasts up to 100 ms, a character-device try waits
     * in poll() for at most the time left, whatever the line settings).
     *
     * Returns the number of bytes that reached the device: size on success,
     * less on a time-out, 0 for null data, size <= 0 or no open port.
     */
    QEL_API_EXPORT int qel_api_printer_write(intptr_t printer, unsigned char* data, int size,
                                             unsigned long timeout_ms);

    /*
     * qel_api_printer_read - read exactly size bytes within timeout_ms (same
     * loop as write).
     *
     * Character device: the number of bytes read (less than size on a time-out).
     * USB device, all or nothing through the receive ring: size when the ring
     * holds size bytes in time; 0 when fewer arrived (they stay in the ring for
     * the next read); -1 no memory; -2 the ring refused a packet; -3 a packet
     * was larger than the room left in the ring (that packet is lost).
     * 0 for null data, size <= 0 or no open port.
     */
    QEL_API_EXPORT int qel_api_printer_read(intptr_t printer, unsigned char* data, int size,
                                            unsigned long timeout_ms);

    /*
     * qel_api_printer_clear - discard what waits to be read: a character device
     * is read off until it is silent (a line in VMIN 0 mode waiting its VTIME for
     * more, at most about a second in all), a USB port's receive ring is emptied.
     *
     * Returns 1 when cleared, 0 when there is no open port.
     */
    QEL_API_EXPORT int qel_api_printer_clear(intptr_t printer);

#ifdef __cplusplus
}
#endif

#endif /* QEL_API_H */
