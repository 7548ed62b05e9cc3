/*
 * Where each checking library keeps the magic number of the object it hangs on Session.payment.
 * Both keep it at the same offset, and each object reaches past it, so a library handed the
 * other library's record reads the other's magic, inside the other's object, and refuses the
 * record. libsonara's object fixes the offset; libvisara pads its own to match. Both libraries
 * hold this with static assertions. Not installed: the layout is no part of the public API.
 */
#ifndef SONARA_PAYMENT_LAYOUT_H
#define SONARA_PAYMENT_LAYOUT_H

/* Byte offset of the 32-bit magic inside either library's payment object (LP64). */
#define PAYMENT_MAGIC_OFFSET 752
#define SOUND_PAYMENT_MAGIC 0x112233u
#define PHOTO_PAYMENT_MAGIC 0x1a2b3cu

#endif /* SONARA_PAYMENT_LAYOUT_H */
