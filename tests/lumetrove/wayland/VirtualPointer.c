/* A pointer for the Wayland desktop tests, through the compositor's virtual-pointer protocol: Qt receives
 * the press, the moves and the release as from a mouse.
 *   lumetrove_test_pointer WIDTH HEIGHT COMMAND...
 * WIDTH x HEIGHT is the logical size of the whole layout; positions are in layout coordinates. Commands:
 *   move X Y | press | release | drag X1 Y1 X2 Y2 [STEPS] | sleep MS
 * Each command is sent and round-tripped before the next. */
#define _POSIX_C_SOURCE 200809L
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wayland-client.h>

#define LEFT_BUTTON 0x110 /* BTN_LEFT */

static struct zwlr_virtual_pointer_manager_v1* manager;
static struct wl_seat* seat;
static struct zwlr_virtual_pointer_v1* pointer;
static struct wl_display* display;
static unsigned extentWidth, extentHeight;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    (void)data;
    (void)version;
    if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        manager = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
    } else if (strcmp(interface, wl_seat_interface.name) == 0 && !seat) {
        seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
    }
}

static void globalRemoved(void* data, struct wl_registry* registry, uint32_t name)
{
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener registryListener = {global, globalRemoved};

static uint32_t nowMs(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint32_t)(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

static void sleepMs(long ms)
{
    struct timespec duration = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&duration, NULL);
}

static void send(void)
{
    zwlr_virtual_pointer_v1_frame(pointer);
    wl_display_roundtrip(display);
}

static void moveTo(double x, double y)
{
    zwlr_virtual_pointer_v1_motion_absolute(pointer, nowMs(), (uint32_t)(x < 0 ? 0 : x), (uint32_t)(y < 0 ? 0 : y),
                                            extentWidth, extentHeight);
    send();
}

static void button(int pressed)
{
    zwlr_virtual_pointer_v1_button(pointer, nowMs(), LEFT_BUTTON,
                                   pressed ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
    send();
}

/* Runs the command starting at argv[0]; the number of arguments it took, 0 when it is not understood. */
static int run(int argc, char** argv)
{
    if (strcmp(argv[0], "move") == 0 && argc >= 3) {
        moveTo(atof(argv[1]), atof(argv[2]));
        return 3;
    }
    if (strcmp(argv[0], "press") == 0 || strcmp(argv[0], "release") == 0) {
        button(strcmp(argv[0], "press") == 0);
        return 1;
    }
    if (strcmp(argv[0], "sleep") == 0 && argc >= 2) {
        sleepMs(atol(argv[1]));
        return 2;
    }
    if (strcmp(argv[0], "drag") == 0 && argc >= 6) {
        const double x1 = atof(argv[1]), y1 = atof(argv[2]), x2 = atof(argv[3]), y2 = atof(argv[4]);
        const int steps = atoi(argv[5]) > 0 ? atoi(argv[5]) : 10;
        moveTo(x1, y1);
        sleepMs(20);
        button(1);
        for (int i = 1; i <= steps; i++) {
            sleepMs(15);
            moveTo(x1 + (x2 - x1) * i / steps, y1 + (y2 - y1) * i / steps);
        }
        sleepMs(20);
        button(0);
        return 6;
    }
    return 0;
}

int main(int argc, char** argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: %s WIDTH HEIGHT COMMAND...\n", argv[0]);
        return 2;
    }
    extentWidth = (unsigned)atoi(argv[1]);
    extentHeight = (unsigned)atoi(argv[2]);
    display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "no Wayland display\n");
        return 2;
    }
    struct wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, NULL);
    wl_display_roundtrip(display);
    if (!manager || !seat) {
        fprintf(stderr, "the compositor offers no virtual pointer\n");
        return 2;
    }
    pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, seat);
    wl_display_roundtrip(display);
    sleepMs(50); /* clients see the seat's new pointer first */
    int status = 0;
    for (int i = 3; i < argc && status == 0;) {
        const int taken = run(argc - i, argv + i);
        if (taken == 0) {
            fprintf(stderr, "bad command: %s\n", argv[i]);
            status = 1;
        }
        i += taken;
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    zwlr_virtual_pointer_manager_v1_destroy(manager);
    wl_seat_destroy(seat);
    wl_registry_destroy(registry);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return status;
}
