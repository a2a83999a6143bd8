/* What the relay minidriver and ds3sim.exe agree on. Plain C: the relay is built freestanding. The
   frame is the one of the simulator's pipe (sim_pipe.h): u32 magic "PWS1", code, a, b, length, then
   `length` payload bytes, all little-endian. */
#ifndef PADWARDEN_RELAY_WIRE_H
#define PADWARDEN_RELAY_WIRE_H

#define RELAY_FRAME_MAGIC 0x31535750u /* "PWS1" */
#define RELAY_FRAME_HEADER 20u
#define RELAY_REPORT_SIZE 256u

/* a = the node's device number; answer a = usage page, b = usage (0 when unknown). */
#define RELAY_OP_DESCRIBE 17u
/* a = the node's device number, payload = the report buffer; answer code 1 with the buffer read. */
#define RELAY_OP_GET_FEATURE 18u
/* a = the node's device number, payload = the report to write; answer code 1 when accepted. */
#define RELAY_OP_SET_FEATURE 19u

/* The pipe ds3sim.exe --hid serves the relay on, inside the Wine prefix's own namespace. */
#define RELAY_PIPE_NAME "padwarden-ds3sim-relay"
#define RELAY_PIPE_NAME_W L"padwarden-ds3sim-relay"

/* Device nodes are ROOT\PADWARDEN_DS3\NNNN, NNNN the simulator's device number in decimal. */
#define RELAY_ENUMERATOR "ROOT\\PADWARDEN_DS3"
#define RELAY_HARDWARE_ID "Root\\PadwardenDs3Relay"
#define RELAY_SERVICE "pwds3relay"

#endif
