/* The page a 32-bit process under qemu leaves for the wineserver (guest.c writes it, server.c reads it):
 * a memfd of this name, mapped once, whose first two 32-bit words are the magic and the page's own
 * guest address. Its host address in /proc/PID/maps minus that guest address is the guest base. */
#ifndef VXQ32_MARKER_H
#define VXQ32_MARKER_H

#define VXQ32_MARKER_NAME "vxq32-base"
#define VXQ32_MARKER_MAGIC 0x3233717Au

#endif
