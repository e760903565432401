# New-BIOS path of an example kit: the installed BIOS is 1.27 or newer.
echo "UpdateHWNew.nsh (prime-b450m): the BIOS is up to date; nothing to flash."
