"""The kit tools: making bootable media of update kits and trying them in a VM.

The modules form a line; each imports only those below it:

    cli                 the command line (tools/kit-run, tools/make-kit-image, and
                        tools/fleet-report --medium)
    kit_run             the run command: a kit or medium booted as a machine
    fleet_medium        the fleet report's kits and options read off a medium
    kit_image           the image command: a kit made into a medium
    layout              what goes on a kit drive (files, application, startup.nsh)
    kit_medium, kit_sign  FAT and ISO file systems; signing
    vmboot              the VM: QEMU with the firmware and its shell
    firmware_volume, pe_image, smbios_dump   readers of outside formats
    image_rules         the application's own rules, asked of bios-update-select-kits
    common              names and the tools' error type
"""
