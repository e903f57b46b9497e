// The two property lists of the service, byte for byte, in sections of their own so that both
// the service (through the linker's section bounds) and objcopy find them. "a" makes the
// sections part of the loaded image; the object is linked as an object, never dropped.
asm(R"(
  .pushsection __info_plist, "a", @progbits
  .incbin ")" VELMORA_INFO_PLIST R"("
  .popsection
  .pushsection __launchd_plist, "a", @progbits
  .incbin ")" VELMORA_LAUNCHD_PLIST R"("
  .popsection
)");
