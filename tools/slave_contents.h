/* Contents served by the test slave `modbus_slave`, usable from C and C++.
 *
 * Every table has VESK_SLAVE_TABLE_SIZE entries at addresses 0 .. 999; an address at or above the
 * size is answered with the exception Illegal Data Address (code 2). Writes from a master change
 * the slave's copy for the life of the process, so a test that writes should use its own slave. */
#ifndef VESK_TESTS_PEERS_SLAVE_CONTENTS_H
#define VESK_TESTS_PEERS_SLAVE_CONTENTS_H

#include <stdint.h>

#define VESK_SLAVE_TABLE_SIZE 1000

/* A few holding registers hold known multi-register values (word order high word first, each
 * register high byte first on the wire), for checking the 32-bit and 64-bit display formats. */
#define VESK_SLAVE_REG_FLOAT_ONE 100      /* 100-101: 3F80 0000 = 1.0f                 */
#define VESK_SLAVE_REG_HEX_32 102         /* 102-103: 1234 5678 = 0x12345678 = 305419896 */
#define VESK_SLAVE_REG_MINUS_TWO 104      /* 104-105: FFFF FFFE = -2 as signed 32-bit    */
#define VESK_SLAVE_REG_DOUBLE_ONE 106     /* 106-109: 3FF0 0000 0000 0000 = 1.0 double   */
#define VESK_SLAVE_REG_INT16_MIN 110      /* 110: 8000 = -32768 signed, 32768 unsigned   */
#define VESK_SLAVE_REG_ALL_ONES 111       /* 111: FFFF = -1 signed, 65535 unsigned       */
#define VESK_SLAVE_REG_FLOAT_ONE_CDAB 112 /* 112-113: 0000 3F80 = 1.0f, low word first */

/* Coil i is ON when i is a multiple of 3. */
static inline int vesk_slave_coil(int i) { return i % 3 == 0; }

/* Discrete input i is ON when i is odd. */
static inline int vesk_slave_discrete_input(int i) { return i % 2 == 1; }

/* Holding register i holds i, except for the fixed values above. */
static inline uint16_t vesk_slave_holding_register(int i) {
  switch (i) {
    case 100:
      return 0x3F80;
    case 101:
      return 0x0000;
    case 102:
      return 0x1234;
    case 103:
      return 0x5678;
    case 104:
      return 0xFFFF;
    case 105:
      return 0xFFFE;
    case 106:
      return 0x3FF0;
    case 107:
      return 0x0000;
    case 108:
      return 0x0000;
    case 109:
      return 0x0000;
    case 110:
      return 0x8000;
    case 111:
      return 0xFFFF;
    case 112:
      return 0x0000;
    case 113:
      return 0x3F80;
    default:
      return (uint16_t)i;
  }
}

/* Input register i holds 1000 + i. */
static inline uint16_t vesk_slave_input_register(int i) { return (uint16_t)(1000 + i); }

/* Read Exception Status (07) answers this status byte. */
#define VESK_SLAVE_EXCEPTION_STATUS 0x6D

/* Read Device Identification (43/14): conformity level 83 (basic, regular and extended objects,
 * streams and individual access). Basic objects 00-02, regular 03-06, extended 80. Objects 06 and
 * 80 are long: a regular stream from 00 needs a second answer from 06, an extended one a third
 * from 80 ("more follows"). NULL for an object the slave does not have. */
#define VESK_SLAVE_CONFORMITY 0x83
static inline const char* vesk_slave_device_object(int id) {
  switch (id) {
    case 0x00:
      return "VeskTarvelo";
    case 0x01:
      return "VT-SLAVE";
    case 0x02:
      return "1.0";
    case 0x03:
      return "https://vesktarvelo.example";
    case 0x04:
      return "Modbus test slave";
    case 0x05:
      return "libmodbus";
    case 0x06:
      return "A test slave for VeskTarvelo. This object is long on purpose: with it, a regular or an extended stream "
             "no longer fits in one answer, and the slave says more follows. 0123456789012345678901234567890123";
    case 0x80:
      return "Private object 80: the extended category, after the regular objects; it too needs an answer of its own.";
    default:
      return 0;
  }
}

#endif /* VESK_TESTS_PEERS_SLAVE_CONTENTS_H */
