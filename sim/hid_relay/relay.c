/* The relay: a HID minidriver that shows each simulated controller to the system's HID class
   driver as a device node with one joystick collection and the 256-byte Control report (id 2), and
   passes every feature request to ds3sim.exe over a named pipe. Programs then reach the simulated
   driver through SetupDi*, CreateFileW and HidD_* exactly as they would reach the real one.

   Freestanding: no C runtime, no allocation of its own; the only buffers are the HID stack's and
   two frames on the stack. Opens and closes stay inside the HID class driver. */
#include <ddk/wdm.h>

#include "relay_wire.h"

/* The minidriver interface, declared from Microsoft's documentation (MinGW ships no hidport.h, and
   the minidriver IOCTL values in its ddk/hidclass.h are not the system's). */
#define RELAY_HID_CTL(id) (((ULONG)0x0B << 16) | ((ULONG)(id) << 2) | 3u) /* METHOD_NEITHER */
#define RELAY_IOCTL_GET_DEVICE_DESCRIPTOR RELAY_HID_CTL(0)
#define RELAY_IOCTL_GET_REPORT_DESCRIPTOR RELAY_HID_CTL(1)
#define RELAY_IOCTL_READ_REPORT RELAY_HID_CTL(2)
#define RELAY_IOCTL_GET_DEVICE_ATTRIBUTES RELAY_HID_CTL(9)
#define RELAY_IOCTL_GET_FEATURE (((ULONG)0x0B << 16) | (100u << 2) | 2u) /* METHOD_OUT_DIRECT */
#define RELAY_IOCTL_SET_FEATURE (((ULONG)0x0B << 16) | (100u << 2) | 1u) /* METHOD_IN_DIRECT */

typedef struct {
    ULONG Revision;
    PDRIVER_OBJECT DriverObject;
    PUNICODE_STRING RegistryPath;
    ULONG DeviceExtensionSize;
    BOOLEAN DevicesArePolled;
    UCHAR Reserved[3];
} RELAY_MINIDRIVER_REGISTRATION;

typedef struct {
    PDEVICE_OBJECT PhysicalDeviceObject;
    PDEVICE_OBJECT NextDeviceObject;
    PVOID MiniDeviceExtension;
} RELAY_HID_DEVICE_EXTENSION;

#pragma pack(push, 1)
typedef struct {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdHID;
    UCHAR bCountry;
    UCHAR bNumDescriptors;
    UCHAR bReportType;
    USHORT wReportLength;
} RELAY_HID_DESCRIPTOR;
#pragma pack(pop)

typedef struct {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
    USHORT Reserved[11];
} RELAY_HID_ATTRIBUTES;

typedef struct {
    PUCHAR reportBuffer;
    ULONG reportBufferLen;
    UCHAR reportId;
} RELAY_XFER_PACKET;

NTSTATUS NTAPI HidRegisterMinidriver(RELAY_MINIDRIVER_REGISTRATION* registration);

/* One per device node, inside the HID class driver's extension. */
typedef struct {
    ULONG number; /* the simulator's device number, from the node's instance id */
    USHORT usagePage;
    USHORT usage;
    LONG removed;
    KSPIN_LOCK lock;
    LIST_ENTRY pendingReads;
} RELAY_DEVICE;

#define RELAY_STATUS_PIPE_BUSY ((NTSTATUS)0xC00000AEL)
#define RELAY_PIPE_TRIES 40

/* The compiler may call these for copies and clears; no C runtime is linked. */
void* memset(void* dest, int value, size_t count) {
    volatile UCHAR* d = (volatile UCHAR*)dest;
    while (count--)
        *d++ = (UCHAR)value;
    return dest;
}

void* memcpy(void* dest, const void* src, size_t count) {
    volatile UCHAR* d = (volatile UCHAR*)dest;
    const UCHAR* s = (const UCHAR*)src;
    while (count--)
        *d++ = *s++;
    return dest;
}

static RELAY_DEVICE* DeviceOf(PDEVICE_OBJECT device) {
    return (RELAY_DEVICE*)((RELAY_HID_DEVICE_EXTENSION*)device->DeviceExtension)->MiniDeviceExtension;
}

static void PutU32(UCHAR* p, ULONG v) {
    p[0] = (UCHAR)v;
    p[1] = (UCHAR)(v >> 8);
    p[2] = (UCHAR)(v >> 16);
    p[3] = (UCHAR)(v >> 24);
}

static ULONG GetU32(const UCHAR* p) {
    return (ULONG)p[0] | ((ULONG)p[1] << 8) | ((ULONG)p[2] << 16) | ((ULONG)p[3] << 24);
}

/* One request to ds3sim.exe and its answer. `payload` goes out (`length` bytes); up to
   `capacity` answer bytes come back into `answer`. 0 when ds3sim is not there or answers
   nothing sound: the caller then fails the request, as a driver that does not answer. */
static int Relay(ULONG op, ULONG number, const UCHAR* payload, ULONG length, UCHAR* answer, ULONG capacity,
                 ULONG* answered, ULONG* code, ULONG* a, ULONG* b) {
    UCHAR frame[RELAY_FRAME_HEADER + RELAY_REPORT_SIZE];
    UNICODE_STRING name;
    OBJECT_ATTRIBUTES attributes;
    IO_STATUS_BLOCK io;
    HANDLE pipe = NULL;
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    ULONG i, got, answerLength;
    LARGE_INTEGER pause;

    if (length > RELAY_REPORT_SIZE)
        return 0;
    RtlInitUnicodeString(&name, L"\\??\\pipe\\" RELAY_PIPE_NAME_W);
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    pause.QuadPart = -50000; /* 5 ms */
    /* Every instance may be serving another request for a moment. */
    for (i = 0; i < RELAY_PIPE_TRIES; ++i) {
        status = ZwCreateFile(&pipe, GENERIC_READ | GENERIC_WRITE | SYNCHRONIZE, &attributes, &io, NULL, 0, 0,
                              FILE_OPEN, FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, NULL, 0);
        if (status != RELAY_STATUS_PIPE_BUSY)
            break;
        KeDelayExecutionThread(KernelMode, FALSE, &pause);
    }
    if (!NT_SUCCESS(status))
        return 0;

    PutU32(frame, RELAY_FRAME_MAGIC);
    PutU32(frame + 4, op);
    PutU32(frame + 8, number);
    PutU32(frame + 12, 0);
    PutU32(frame + 16, length);
    for (i = 0; i < length; ++i)
        frame[RELAY_FRAME_HEADER + i] = payload[i];
    status = ZwWriteFile(pipe, NULL, NULL, NULL, &io, frame, RELAY_FRAME_HEADER + length, NULL, NULL);
    if (NT_SUCCESS(status))
        status = ZwReadFile(pipe, NULL, NULL, NULL, &io, frame, sizeof frame, NULL, NULL);
    ZwClose(pipe);
    if (!NT_SUCCESS(status))
        return 0;
    got = (ULONG)io.Information;
    if (got < RELAY_FRAME_HEADER || got > sizeof frame || GetU32(frame) != RELAY_FRAME_MAGIC)
        return 0;
    answerLength = GetU32(frame + 16);
    if (answerLength != got - RELAY_FRAME_HEADER || answerLength > capacity)
        return 0;
    for (i = 0; i < answerLength; ++i)
        answer[i] = frame[RELAY_FRAME_HEADER + i];
    *answered = answerLength;
    *code = GetU32(frame + 4);
    *a = GetU32(frame + 8);
    *b = GetU32(frame + 12);
    return 1;
}

/* Usage page, usage, one Control report of 255 data bytes behind report id 2: 256 with the id. */
static UCHAR reportDescriptor[] = {
    0x06, 0x01, 0x00, /* usage page (patched: the simulated device's) */
    0x0A, 0x04, 0x00, /* usage (patched) */
    0xA1, 0x01,       /* collection (application) */
    0x85, 0x02,       /*   report id 2 */
    0x06, 0x00, 0xFF, /*   usage page (vendor) */
    0x09, 0x01,       /*   usage 1 */
    0x15, 0x00,       /*   logical minimum 0 */
    0x26, 0xFF, 0x00, /*   logical maximum 255 */
    0x75, 0x08,       /*   report size 8 */
    0x96, 0xFF, 0x00, /*   report count 255 */
    0xB1, 0x02,       /*   feature (data, variable, absolute) */
    0xC0,             /* end collection */
};

static void DescriptorFor(const RELAY_DEVICE* relay, UCHAR* out) {
    ULONG i;
    for (i = 0; i < sizeof reportDescriptor; ++i)
        out[i] = reportDescriptor[i];
    out[1] = (UCHAR)relay->usagePage;
    out[2] = (UCHAR)(relay->usagePage >> 8);
    out[4] = (UCHAR)relay->usage;
    out[5] = (UCHAR)(relay->usage >> 8);
}

/* The device number behind the node: the decimal digits of its instance id (the part after the
   last backslash), as the PDO reports it. */
static ULONG NodeNumber(PDEVICE_OBJECT pdo) {
    KEVENT done;
    IO_STATUS_BLOCK io;
    PIRP irp;
    PIO_STACK_LOCATION stack;
    const WCHAR* id;
    ULONG number = 0, i;

    KeInitializeEvent(&done, NotificationEvent, FALSE);
    irp = IoBuildSynchronousFsdRequest(IRP_MJ_PNP, pdo, NULL, 0, NULL, &done, &io);
    if (irp == NULL)
        return 0;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    stack = IoGetNextIrpStackLocation(irp);
    stack->MinorFunction = IRP_MN_QUERY_ID;
    stack->Parameters.QueryId.IdType = BusQueryInstanceID;
    if (IoCallDriver(pdo, irp) == STATUS_PENDING)
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
    if (!NT_SUCCESS(io.Status) || io.Information == 0)
        return 0;
    id = (const WCHAR*)io.Information;
    for (i = 0; i < 16 && id[i] >= L'0' && id[i] <= L'9'; ++i)
        number = number * 10 + (ULONG)(id[i] - L'0');
    ExFreePool((PVOID)io.Information);
    return number;
}

static void CompletePendingReads(RELAY_DEVICE* relay) {
    for (;;) {
        KIRQL irql;
        PLIST_ENTRY entry = NULL;
        PIRP irp;
        KeAcquireSpinLock(&relay->lock, &irql);
        if (!IsListEmpty(&relay->pendingReads))
            entry = RemoveHeadList(&relay->pendingReads);
        KeReleaseSpinLock(&relay->lock, irql);
        if (entry == NULL)
            return;
        irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        irp->IoStatus.Status = STATUS_DELETE_PENDING;
        irp->IoStatus.Information = 0;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
}

static NTSTATUS NTAPI RelayAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT fdo) {
    RELAY_HID_DEVICE_EXTENSION* ext = (RELAY_HID_DEVICE_EXTENSION*)fdo->DeviceExtension;
    RELAY_DEVICE* relay = (RELAY_DEVICE*)ext->MiniDeviceExtension;
    ULONG code = 0, page = 0, usage = 0, answered = 0;
    (void)driver;
    relay->number = NodeNumber(ext->PhysicalDeviceObject);
    relay->usagePage = 1;
    relay->usage = 4;
    relay->removed = 0;
    KeInitializeSpinLock(&relay->lock);
    InitializeListHead(&relay->pendingReads);
    /* The simulated device may be of another kind (a mouse, a vendor collection). */
    if (Relay(RELAY_OP_DESCRIBE, relay->number, NULL, 0, NULL, 0, &answered, &code, &page, &usage) &&
        code == 1 && page != 0 && page <= 0xFFFF && usage <= 0xFFFF) {
        relay->usagePage = (USHORT)page;
        relay->usage = (USHORT)usage;
    }
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static NTSTATUS NTAPI RelayPnp(PDEVICE_OBJECT device, PIRP irp) {
    RELAY_HID_DEVICE_EXTENSION* ext = (RELAY_HID_DEVICE_EXTENSION*)device->DeviceExtension;
    RELAY_DEVICE* relay = DeviceOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        InterlockedExchange(&relay->removed, 0);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_REMOVE_DEVICE:
        InterlockedExchange(&relay->removed, 1);
        CompletePendingReads(relay);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_CANCEL_REMOVE_DEVICE:
        InterlockedExchange(&relay->removed, 0);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE: irp->IoStatus.Status = STATUS_SUCCESS; break;
    default: break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(ext->NextDeviceObject, irp);
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS Feature(RELAY_DEVICE* relay, PIRP irp, ULONG op) {
    RELAY_XFER_PACKET* packet = (RELAY_XFER_PACKET*)irp->UserBuffer;
    UCHAR report[RELAY_REPORT_SIZE];
    ULONG code = 0, a = 0, b = 0, i, length, answered = 0;
    if (packet == NULL || packet->reportBuffer == NULL || packet->reportBufferLen == 0)
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    /* The simulator judges the report as the program passed it, id byte first and at its own
       length, as the driver would; a longer buffer than the report is cut to it. */
    length = packet->reportBufferLen < RELAY_REPORT_SIZE ? packet->reportBufferLen : RELAY_REPORT_SIZE;
    for (i = 0; i < length; ++i)
        report[i] = packet->reportBuffer[i];
    if (!Relay(op, relay->number, report, length, report, length, &answered, &code, &a, &b) || code != 1)
        return Complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    if (op == RELAY_OP_GET_FEATURE) {
        for (i = 0; i < answered; ++i)
            packet->reportBuffer[i] = report[i];
        return Complete(irp, STATUS_SUCCESS, answered);
    }
    return Complete(irp, STATUS_SUCCESS, length);
}

static NTSTATUS NTAPI RelayInternalIoctl(PDEVICE_OBJECT device, PIRP irp) {
    RELAY_DEVICE* relay = DeviceOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
    ULONG i;

    if (relay->removed)
        return Complete(irp, STATUS_DELETE_PENDING, 0);
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case RELAY_IOCTL_GET_DEVICE_DESCRIPTOR: {
        RELAY_HID_DESCRIPTOR* d = (RELAY_HID_DESCRIPTOR*)irp->UserBuffer;
        if (d == NULL || out < sizeof *d)
            return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        d->bLength = sizeof *d;
        d->bDescriptorType = 0x21;
        d->bcdHID = 0x0111;
        d->bCountry = 0;
        d->bNumDescriptors = 1;
        d->bReportType = 0x22;
        d->wReportLength = sizeof reportDescriptor;
        return Complete(irp, STATUS_SUCCESS, sizeof *d);
    }
    case RELAY_IOCTL_GET_REPORT_DESCRIPTOR: {
        UCHAR descriptor[sizeof reportDescriptor];
        UCHAR* to = (UCHAR*)irp->UserBuffer;
        if (to == NULL || out < sizeof descriptor)
            return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        DescriptorFor(relay, descriptor);
        for (i = 0; i < sizeof descriptor; ++i)
            to[i] = descriptor[i];
        return Complete(irp, STATUS_SUCCESS, sizeof descriptor);
    }
    case RELAY_IOCTL_GET_DEVICE_ATTRIBUTES: {
        RELAY_HID_ATTRIBUTES* attributes = (RELAY_HID_ATTRIBUTES*)irp->UserBuffer;
        if (attributes == NULL || out < sizeof *attributes)
            return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        for (i = 0; i < sizeof *attributes; ++i)
            ((UCHAR*)attributes)[i] = 0;
        attributes->Size = sizeof *attributes;
        attributes->VendorID = 0x054C;
        attributes->ProductID = 0x0268;
        attributes->VersionNumber = (USHORT)relay->number;
        return Complete(irp, STATUS_SUCCESS, sizeof *attributes);
    }
    case RELAY_IOCTL_READ_REPORT: {
        /* The controller's input reports are not simulated: the read waits until removal. */
        KIRQL irql;
        IoMarkIrpPending(irp);
        KeAcquireSpinLock(&relay->lock, &irql);
        InsertTailList(&relay->pendingReads, &irp->Tail.Overlay.ListEntry);
        KeReleaseSpinLock(&relay->lock, irql);
        return STATUS_PENDING;
    }
    case RELAY_IOCTL_GET_FEATURE: return Feature(relay, irp, RELAY_OP_GET_FEATURE);
    case RELAY_IOCTL_SET_FEATURE: return Feature(relay, irp, RELAY_OP_SET_FEATURE);
    default: return Complete(irp, STATUS_NOT_SUPPORTED, 0);
    }
}

static NTSTATUS NTAPI RelayPower(PDEVICE_OBJECT device, PIRP irp) {
    RELAY_HID_DEVICE_EXTENSION* ext = (RELAY_HID_DEVICE_EXTENSION*)device->DeviceExtension;
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(ext->NextDeviceObject, irp);
}

static void NTAPI RelayUnload(PDRIVER_OBJECT driver) {
    (void)driver;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry) {
    RELAY_MINIDRIVER_REGISTRATION registration;
    ULONG i;
    for (i = 0; i < sizeof registration; ++i)
        ((UCHAR*)&registration)[i] = 0;
    driver->DriverExtension->AddDevice = RelayAddDevice;
    driver->DriverUnload = RelayUnload;
    driver->MajorFunction[IRP_MJ_PNP] = RelayPnp;
    driver->MajorFunction[IRP_MJ_POWER] = RelayPower;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = RelayInternalIoctl;
    registration.Revision = 1;
    registration.DriverObject = driver;
    registration.RegistryPath = registry;
    registration.DeviceExtensionSize = sizeof(RELAY_DEVICE);
    registration.DevicesArePolled = FALSE;
    return HidRegisterMinidriver(&registration);
}
