# Old-BIOS path of the example kit: the installed BIOS is older than version 2.
# A real kit flashes the intermediate BIOS here, then the target BIOS.
echo "UpdateHWOld.nsh: the installed BIOS is older than version 2."
echo "A real kit would now run: FlashTool.efi Model7_1.99_bridge.bin -reboot"
