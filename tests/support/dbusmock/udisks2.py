'''udisks2 stand-in for python3-dbusmock: block devices holding a mounted file system.

Parameters: "devices" (comma-separated kernel names, default "sdb1"), "mount" (the folder the
first device is mounted on), "label" (its label), "log" (a file every SetLabel, Unmount, Mount
and Eject call is appended to, one line each). Each device sits in a drive of its own
(/org/freedesktop/UDisks2/drives/<device>).
'''
import dbus
from dbusmock import mockobject

BUS_NAME = 'org.freedesktop.UDisks2'
MAIN_OBJ = '/org/freedesktop/UDisks2'
MAIN_IFACE = 'org.freedesktop.UDisks2.Manager'
SYSTEM_BUS = True

BLOCK = 'org.freedesktop.UDisks2.Block'
FS = 'org.freedesktop.UDisks2.Filesystem'
DRIVE = 'org.freedesktop.UDisks2.Drive'


def load(mock, parameters):
    log = parameters.get('log', '/dev/null')
    mount = parameters.get('mount', '/media/user/DISK')
    label = parameters.get('label', '')
    mock.AddProperties(MAIN_IFACE, {'Version': dbus.String('2.9.4', variant_level=1)})
    note = 'open(%r, "a").write(%%s + "\\n"); ' % log
    for dev in parameters.get('devices', 'sdb1').split(','):
        drive = '/org/freedesktop/UDisks2/drives/' + dev
        mock.AddObject(drive, DRIVE, {'Ejectable': dbus.Boolean(True, variant_level=1)},
                       [('Eject', 'a{sv}', '', note % '"Eject"')])
        path = '/org/freedesktop/UDisks2/block_devices/' + dev
        mock.AddObject(path, BLOCK, {
            'IdLabel': dbus.String(label, variant_level=1),
            'Device': dbus.ByteArray(('/dev/' + dev + '\0').encode()),
            'Drive': dbus.ObjectPath(drive, variant_level=1),
        }, [])
        obj = mockobject.objects[path]
        obj.AddProperties(FS, {
            'MountPoints': dbus.Array([dbus.ByteArray((mount + '\0').encode())], signature='ay'),
        })
        obj.AddMethods(FS, [
            ('SetLabel', 'sa{sv}', '',
             note % '"SetLabel " + args[0]' +
             'self.Set("%s", "IdLabel", dbus.String(args[0], variant_level=1))' % BLOCK),
            ('Unmount', 'a{sv}', '',
             note % '"Unmount"' +
             'self.Set("%s", "MountPoints", dbus.Array([], signature="ay"))' % FS),
            ('Mount', 'a{sv}', 's',
             note % '"Mount"' +
             'self.Set("%s", "MountPoints", dbus.Array([dbus.ByteArray(b"%s\\0")], '
             'signature="ay")); ret = "%s"' % (FS, mount, mount)),
        ])
