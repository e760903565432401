# New-BIOS path of the example kit: the installed BIOS is version 2 or later.
# A real kit flashes the target BIOS directly here.
echo "UpdateHWNew.nsh: the installed BIOS is version 2 or later."
echo "A real kit would now run: FlashTool.efi Model7_2.05.bin -reboot"
