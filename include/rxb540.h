/**
 * @file rxb540.h
 * @brief librxb540: the RXB540 USB relay boards from programs.
 *
 * One board is an HID interface with vendor ID 0x16C0, product ID 0x05DF,
 * the manufacturer string of the build and the product string "RXB540".
 * Every command is one 17-byte HID feature report. The command line rxb540
 * is built on exactly these functions, so a program sees the same boards, in
 * the same order, with the same serial numbers, and gets the same results.
 *
 * Results: every function that can fail returns RXB540_OK (0) or one of the
 * negative RXB540_ERROR_* codes; rxb540_strerror() names any code. Handles
 * come back through out-parameters. The library keeps no "last error".
 *
 * Ownership: the library allocates every object; the caller releases it with
 * the matching call (rxb540_list_free(), rxb540_close()), each of which
 * accepts NULL. Every string that a function returns is either static or
 * owned by the list or board it came from and valid until that object is
 * released; the caller never frees one.
 *
 * Text is bytes: a serial number is the board's string narrowed to one byte
 * per UTF-16 code unit (a unit below 256 becomes that byte, any other unit
 * becomes '?'), the same bytes that the command line compares. It is not
 * UTF-8; a binding should decode it as Latin-1.
 *
 * Threads: no initialisation or clean-up call is needed; the library keeps
 * no global state that a caller could see. Every function may be called from
 * any thread. Calls that reach the host's HID services (listing, opening,
 * sending a report, closing) are serialised inside the library, so
 * different boards may be used from different threads at once. One board
 * must not be used from two threads at once, nor closed while another thread
 * uses it: the caller serialises that. Lists are read-only once made and may
 * be read from several threads at once.
 *
 * Attachments: a board that is unplugged and plugged in again between two
 * listings can come back at the same path with the same serial number, yet it
 * has powered up with its relays off. Its attachment text tells it apart: the
 * same while the board stays attached, another once the host has enumerated
 * it anew. Compare only the texts of one path; "" means that the host does
 * not tell (see docs/backends.md for which do). Since 0.1.0.
 *
 * Errors of the host's device list: RXB540_ERROR_PLATFORM means that the
 * host's HID interfaces could not be listed (never an empty list). The
 * system's reason is then left in errno (GetLastError() on Windows).
 */
#ifndef RXB540_H
#define RXB540_H

#include <stddef.h>

/* Export macro: building the DLL (RXB540_BUILDING), a static library or a
 * program that links it statically (RXB540_STATIC), or a program that uses
 * the DLL. On GCC and Clang the library is built with hidden visibility and
 * only these functions are exported. */
#if defined(RXB540_STATIC)
#define RXB540_API
#elif defined(_WIN32) || defined(__CYGWIN__)
#if defined(RXB540_BUILDING)
#define RXB540_API __declspec(dllexport)
#else
#define RXB540_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define RXB540_API __attribute__((visibility("default")))
#else
#define RXB540_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** @name Version of this header
 * The version of the interface that a program was compiled against;
 * rxb540_version() gives the library's. The shared library keeps the name
 * librxb540.so.0 while the interface only grows. @{ */
#define RXB540_MAKE_VERSION(major, minor, patch) (((major) << 24) | ((minor) << 8) | (patch))
#define RXB540_VERSION_MAJOR 0
#define RXB540_VERSION_MINOR 1
#define RXB540_VERSION_PATCH 0
#define RXB540_VERSION RXB540_MAKE_VERSION(RXB540_VERSION_MAJOR, RXB540_VERSION_MINOR, RXB540_VERSION_PATCH)
/** @} */

/** @name Result codes
 * 0 for success, a negative number for each failure. New codes may be added;
 * rxb540_strerror() has a text for every one. @{ */
/** Success. */
#define RXB540_OK 0
/** No board matched: text "The specified device was not found". */
#define RXB540_ERROR_NOT_FOUND (-1)
/** A board's string could not be read, or a board refused a report: text
 * "Communication error with device". */
#define RXB540_ERROR_COMMUNICATION (-2)
/** A NULL where an object is needed, or a serial text that is not allowed. */
#define RXB540_ERROR_INVALID_ARGUMENT (-3)
/** Memory for a list or a board could not be had. */
#define RXB540_ERROR_NO_MEMORY (-4)
/** The host's HID interfaces could not be listed; the system's reason is in
 * errno (GetLastError() on Windows). */
#define RXB540_ERROR_PLATFORM (-5)
/** @} */

/** The size of the buffer of rxb540_init_serial(): 11 characters and the
 * terminating zero. Also the longest text rxb540_write_serial() takes, plus 1. */
#define RXB540_SERIAL_BUFFER 12

/** A snapshot of the attached boards, made by rxb540_list_boards(). */
typedef struct rxb540_list rxb540_list;

/** One open board, from rxb540_open() or rxb540_open_path(). */
typedef struct rxb540_board rxb540_board;

/**
 * @brief The library's version as text, "MAJOR.MINOR.PATCH".
 * @return A static string, never NULL.
 * @since 0.0.1
 */
RXB540_API const char *rxb540_version(void);

/**
 * @brief The text of a result code.
 * @param code Any int: RXB540_OK, an RXB540_ERROR_* code, or anything else
 *        (which gives "Unknown error").
 * @return A static string, never NULL. Each code has a text of its own.
 * @since 0.0.1
 */
RXB540_API const char *rxb540_strerror(int code);

/**
 * @brief Lists the attached boards: one pass over the host's HID interfaces
 *        in its enumeration order, the same boards that `rxb540 list` prints.
 * @param list Out: the new list, to be released with rxb540_list_free().
 *        Must not be NULL. Left NULL on failure.
 * @return RXB540_OK, also when no board is attached (an empty list);
 *         RXB540_ERROR_PLATFORM when the host's interfaces could not be
 *         listed; RXB540_ERROR_NO_MEMORY; RXB540_ERROR_INVALID_ARGUMENT for a
 *         NULL list.
 * @note Boards are not kept open: the list holds their serial numbers and
 *       interface paths only.
 * @since 0.0.1
 */
RXB540_API int rxb540_list_boards(rxb540_list **list);

/**
 * @brief The number of boards in a list.
 * @param list A list, or NULL (which counts 0).
 * @since 0.0.1
 */
RXB540_API size_t rxb540_list_count(const rxb540_list *list);

/**
 * @brief The serial number of a listed board, as the command line compares
 *        it: the narrowed bytes (see "Text is bytes"), control bytes included.
 * @param list A list, or NULL (which gives NULL).
 * @param index From 0 to rxb540_list_count() - 1; NULL past the end.
 * @note The string is owned by the list and valid until rxb540_list_free().
 * @since 0.0.1
 */
RXB540_API const char *rxb540_list_serial(const rxb540_list *list, size_t index);

/**
 * @brief The interface path of a listed board, for rxb540_open_path():
 *        "/dev/hidrawN", a Windows interface path, hidapi's path or "sim:N".
 * @param list A list, or NULL (which gives NULL).
 * @param index From 0 to rxb540_list_count() - 1; NULL past the end.
 * @note The string is owned by the list and valid until rxb540_list_free().
 * @since 0.0.1
 */
RXB540_API const char *rxb540_list_path(const rxb540_list *list, size_t index);

/**
 * @brief The attachment text of a listed board (see "Attachments").
 * @param list A list, or NULL (which gives NULL).
 * @param index From 0 to rxb540_list_count() - 1; NULL past the end.
 * @return The text, "" where the host does not tell.
 * @note The string is owned by the list and valid until rxb540_list_free().
 * @since 0.1.0
 */
RXB540_API const char *rxb540_list_attachment(const rxb540_list *list, size_t index);

/**
 * @brief The number of interfaces in a list that have the board's vendor and
 *        product IDs but whose strings could not all be read while the list
 *        was made (the board may be busy, held by another program, or on its
 *        way out). Each may be a board or not; none of them is among the
 *        boards of rxb540_list_count(). A board that was listed before and
 *        now appears here at its path, with its attachment, is still attached.
 * @param list A list, or NULL (which counts 0).
 * @since 0.1.0
 */
RXB540_API size_t rxb540_list_unreadable_count(const rxb540_list *list);

/**
 * @brief The interface path of an interface that could not be read.
 * @param list A list, or NULL (which gives NULL).
 * @param index From 0 to rxb540_list_unreadable_count() - 1; NULL past the end.
 * @note The string is owned by the list and valid until rxb540_list_free().
 * @since 0.1.0
 */
RXB540_API const char *rxb540_list_unreadable_path(const rxb540_list *list, size_t index);

/**
 * @brief The attachment text of an interface that could not be read.
 * @param list A list, or NULL (which gives NULL).
 * @param index From 0 to rxb540_list_unreadable_count() - 1; NULL past the end.
 * @return The text, "" where the host does not tell.
 * @note The string is owned by the list and valid until rxb540_list_free().
 * @since 0.1.0
 */
RXB540_API const char *rxb540_list_unreadable_attachment(const rxb540_list *list, size_t index);

/**
 * @brief Releases a list and every string it gave out.
 * @param list A list, or NULL (nothing happens).
 * @since 0.0.1
 */
RXB540_API void rxb540_list_free(rxb540_list *list);

/**
 * @brief Opens a board the way `rxb540 set` selects it: the first board in
 *        enumeration order whose serial number equals the selector (whole,
 *        byte for byte, case-sensitive), or the first board for the exact
 *        keyword "ANY".
 * @param selector A serial number or "ANY"; must not be NULL.
 * @param board Out: the open board, to be released with rxb540_close(). Must
 *        not be NULL. Left NULL on failure, and nothing stays open then.
 * @return RXB540_OK; RXB540_ERROR_NOT_FOUND; RXB540_ERROR_COMMUNICATION when
 *         a string of the last interface with the board's IDs could not be
 *         read; RXB540_ERROR_PLATFORM; RXB540_ERROR_NO_MEMORY;
 *         RXB540_ERROR_INVALID_ARGUMENT for a NULL selector or board.
 * @since 0.0.1
 */
RXB540_API int rxb540_open(const char *selector, rxb540_board **board);

/**
 * @brief Opens the board at an interface path (from rxb540_list_path()),
 *        after the same identity checks as rxb540_open(). This reaches boards
 *        that share a serial number.
 * @param path An interface path, compared byte for byte; must not be NULL.
 * @param board Out: the open board, to be released with rxb540_close(). Must
 *        not be NULL. Left NULL on failure, and nothing stays open then.
 * @return RXB540_OK; RXB540_ERROR_NOT_FOUND when no board is at that path;
 *         RXB540_ERROR_COMMUNICATION when its strings could not be read;
 *         RXB540_ERROR_PLATFORM; RXB540_ERROR_NO_MEMORY;
 *         RXB540_ERROR_INVALID_ARGUMENT for a NULL path or board.
 * @since 0.0.1
 */
RXB540_API int rxb540_open_path(const char *path, rxb540_board **board);

/**
 * @brief The serial number of an open board, in the bytes of rxb540_list_serial().
 * @param board An open board, or NULL (which gives NULL).
 * @note The string is owned by the board and valid until rxb540_close(); a
 *       successful rxb540_write_serial() or rxb540_init_serial() changes its
 *       contents in place.
 * @since 0.0.1
 */
RXB540_API const char *rxb540_board_serial(const rxb540_board *board);

/**
 * @brief The interface path of an open board.
 * @param board An open board, or NULL (which gives NULL).
 * @note The string is owned by the board and valid until rxb540_close().
 * @since 0.0.1
 */
RXB540_API const char *rxb540_board_path(const rxb540_board *board);

/**
 * @brief The attachment text of an open board, as it was when the board was
 *        opened (see "Attachments"): a board opened by a listed path is the
 *        listed board only while both texts are the same.
 * @param board An open board, or NULL (which gives NULL).
 * @return The text, "" where the host does not tell.
 * @note The string is owned by the board and valid until rxb540_close().
 * @since 0.1.0
 */
RXB540_API const char *rxb540_board_attachment(const rxb540_board *board);

/**
 * @brief Sets the relays: sends one set-state report with this state byte.
 * @param board An open board; must not be NULL.
 * @param state The relay state, one bit per relay.
 * @return RXB540_OK; RXB540_ERROR_COMMUNICATION when the board did not take
 *         the report (it is not sent again); RXB540_ERROR_INVALID_ARGUMENT
 *         for a NULL board.
 * @since 0.0.1
 */
RXB540_API int rxb540_set_state(rxb540_board *board, unsigned char state);

/**
 * @brief Stores a new serial number in the board: one set-serial report.
 *        The cure for boards that share a serial number.
 * @param board An open board; must not be NULL.
 * @param serial 1 to 11 characters, each one of A-Z a-z 0-9 . _ - (safe in
 *        shells, file names and network topics), other than the keyword
 *        "ANY" (which selects the first board, so a board carrying it could
 *        not be chosen by its serial number); must not be NULL.
 * @return RXB540_OK, and rxb540_board_serial() gives the new text;
 *         RXB540_ERROR_COMMUNICATION when the board did not take the report;
 *         RXB540_ERROR_INVALID_ARGUMENT for a NULL board, or a NULL or
 *         refused text, and then nothing is sent.
 * @since 0.0.1
 */
RXB540_API int rxb540_write_serial(rxb540_board *board, const char *serial);

/**
 * @brief Stores the serial number that `rxb540 init` writes: the current Unix
 *        time as a signed 32-bit number in decimal (a leading minus sign from
 *        January 2038 on).
 * @param board An open board; must not be NULL.
 * @param serial Out: the text written, zero-terminated, when the board took
 *        it; untouched otherwise. Must not be NULL.
 * @return RXB540_OK, and rxb540_board_serial() gives the new text;
 *         RXB540_ERROR_COMMUNICATION when the board did not take the report;
 *         RXB540_ERROR_INVALID_ARGUMENT for a NULL board or buffer.
 * @since 0.0.1
 */
RXB540_API int rxb540_init_serial(rxb540_board *board, char serial[RXB540_SERIAL_BUFFER]);

/**
 * @brief Closes a board and releases it with its strings.
 * @param board An open board, or NULL (nothing happens).
 * @since 0.0.1
 */
RXB540_API void rxb540_close(rxb540_board *board);

#ifdef __cplusplus
}
#endif

#endif /* RXB540_H */
