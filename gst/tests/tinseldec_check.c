/* What gst_test.sh asks of GStreamer beyond gst-launch-1.0, whose exit after
 * an error while prerolling is not reliable. Prints KEY=VALUE lines.
 *   tinseldec_check play FILE SECONDS: plays FILE through playbin into a
 *     fakesink as a desktop player does: which decoder playbin chose, the
 *     duration it was told, where a flushing seek to SECONDS landed and where
 *     libtinsel's own tinsel_seek_time() lands at that rate, where the last
 *     buffer ended.
 *   tinseldec_check damaged FILE: filesrc ! tinseldec ! fakesink: the bus's
 *     error and the buffers that reached the sink. */
#include <gst/gst.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <tinsel.h>

static GstClockTime first_pts = GST_CLOCK_TIME_NONE, end_time = GST_CLOCK_TIME_NONE;
static gint rate = 0;
static gboolean seeking = FALSE;
static int buffers = 0;

static void handoff(GstElement* sink, GstBuffer* buffer, GstPad* pad, gpointer data) {
    (void)sink, (void)data;
    ++buffers;
    if (rate == 0) {
        GstCaps* caps = gst_pad_get_current_caps(pad);
        gst_structure_get_int(gst_caps_get_structure(caps, 0), "rate", &rate);
        gst_caps_unref(caps);
    }
    if (seeking && !GST_CLOCK_TIME_IS_VALID(first_pts))
        first_pts = GST_BUFFER_PTS(buffer);
    end_time = GST_BUFFER_PTS(buffer) + GST_BUFFER_DURATION(buffer);
}

/* The next message of the kinds asked for, an error, or NULL after 20 s. */
static GstMessage* wait_for(GstElement* pipeline, GstMessageType types) {
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(bus, 20 * GST_SECOND, types | GST_MESSAGE_ERROR);
    gst_object_unref(bus);
    if (message != NULL && GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        GError* error = NULL;
        gst_message_parse_error(message, &error, NULL);
        printf("error=%s\n", error->message);
        g_error_free(error);
        gst_message_unref(message);
        return NULL;
    }
    if (message == NULL)
        printf("error=no message within 20 s\n");
    return message;
}

static gboolean is_tinseldec(const GValue* value, GValue* found, gpointer data) {
    (void)data;
    GstElement* element = g_value_get_object(value);
    GstElementFactory* factory = gst_element_get_factory(element);
    if (factory != NULL &&
        g_strcmp0(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)), "tinseldec") == 0) {
        g_value_set_boolean(found, TRUE);
        return FALSE;
    }
    return TRUE;
}

/* Where libtinsel lands a seek to seconds, at the rate playbin played. */
static gint64 library_landing(const char* path, double seconds) {
    tinsel_player* player = tinsel_new(rate);
    tinsel_position position = {0};
    const gboolean ok = player != NULL && tinsel_load_file(player, path) == TINSEL_OK &&
                        tinsel_seek_time(player, seconds) == TINSEL_OK &&
                        tinsel_get_position(player, &position) == TINSEL_OK;
    tinsel_free(player);
    return ok ? position.frame : -1;
}

static int damaged(const char* path) {
    GError* error = NULL;
    GstElement* pipeline =
        gst_parse_launch("filesrc name=source ! tinseldec ! fakesink name=sink signal-handoffs=true", &error);
    if (pipeline == NULL) {
        printf("error=%s\n", error->message);
        return 1;
    }
    GstElement* source = gst_bin_get_by_name(GST_BIN(pipeline), "source");
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    g_object_set(source, "location", path, NULL);
    g_signal_connect(sink, "handoff", G_CALLBACK(handoff), NULL);
    g_signal_connect(sink, "preroll-handoff", G_CALLBACK(handoff), NULL);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstMessage* message = wait_for(pipeline, GST_MESSAGE_EOS);
    if (message != NULL) {
        printf("eos\n");
        gst_message_unref(message);
    }
    printf("buffers=%d\n", buffers);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(source);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return 0;
}

static int play(const char* path, double seconds) {
    gchar* uri = gst_filename_to_uri(path, NULL);
    GstElement* playbin = gst_element_factory_make("playbin", NULL);
    GstElement* sink = gst_element_factory_make("fakesink", NULL);
    if (playbin == NULL || sink == NULL) {
        fprintf(stderr, "tinseldec_check: no playbin or fakesink\n");
        return 1;
    }
    g_object_set(sink, "sync", FALSE, "signal-handoffs", TRUE, NULL);
    g_signal_connect(sink, "handoff", G_CALLBACK(handoff), NULL);
    g_signal_connect(sink, "preroll-handoff", G_CALLBACK(handoff), NULL);
    g_object_set(playbin, "uri", uri, "audio-sink", sink, "video-sink",
                 gst_element_factory_make("fakesink", NULL), NULL);
    g_free(uri);

    gst_element_set_state(playbin, GST_STATE_PAUSED);
    GstMessage* message = wait_for(playbin, GST_MESSAGE_ASYNC_DONE);
    int status = 1;
    if (message == NULL)
        goto done;
    gst_message_unref(message);
    GValue found = G_VALUE_INIT;
    g_value_init(&found, G_TYPE_BOOLEAN);
    GstIterator* elements = gst_bin_iterate_recurse(GST_BIN(playbin));
    gst_iterator_fold(elements, is_tinseldec, &found, NULL);
    gst_iterator_free(elements);
    printf("decoder=%s\n", g_value_get_boolean(&found) ? "tinseldec" : "other");
    gint64 duration = -1;
    gst_element_query_duration(playbin, GST_FORMAT_TIME, &duration);
    printf("duration=%" G_GINT64_FORMAT "\n", duration);

    seeking = TRUE;
    if (!gst_element_seek_simple(playbin, GST_FORMAT_TIME, GST_SEEK_FLAG_FLUSH,
                                 (gint64)(seconds * GST_SECOND))) {
        printf("error=the seek was refused\n");
        goto done;
    }
    if ((message = wait_for(playbin, GST_MESSAGE_ASYNC_DONE)) == NULL)
        goto done;
    gst_message_unref(message);
    const gint64 landing = library_landing(path, seconds);
    printf("seek_landed=%" G_GUINT64_FORMAT "\n", first_pts);
    printf("library_landed=%" G_GUINT64_FORMAT "\n",
           landing < 0 ? GST_CLOCK_TIME_NONE : gst_util_uint64_scale_int(landing, GST_SECOND, rate));

    gst_element_set_state(playbin, GST_STATE_PLAYING);
    if ((message = wait_for(playbin, GST_MESSAGE_EOS)) == NULL)
        goto done;
    gst_message_unref(message);
    printf("end=%" G_GUINT64_FORMAT "\n", end_time);
    status = 0;
done:
    gst_element_set_state(playbin, GST_STATE_NULL);
    gst_object_unref(playbin);
    return status;
}

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    if (argc == 4 && strcmp(argv[1], "play") == 0)
        return play(argv[2], atof(argv[3]));
    if (argc == 3 && strcmp(argv[1], "damaged") == 0)
        return damaged(argv[2]);
    fprintf(stderr, "usage: tinseldec_check play FILE SECONDS | damaged FILE\n");
    return 2;
}
